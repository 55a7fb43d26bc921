// The Drumlin shared library: its exports come from the component static
// libraries linked whole into it (the audio decoder, Audec).
