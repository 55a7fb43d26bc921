package com.jor.wrapper;

/**
 * Speaker diarization of recording files through the native Drumlin library.
 *
 * <p>{@link #Diariztion} returns an XML speaker list such as
 *
 * <pre>
 * &lt;?xml version="1.0" encoding="UTF-8" standalone="yes"?&gt;
 * &lt;speakerList&gt;
 *     &lt;speaker name="Unknown" start="0" end="48" /&gt;
 * &lt;/speakerList&gt;
 * </pre>
 *
 * with start and end in seconds on a 4-second grid, or one of the texts "Wave sprit Error",
 * "ulx Initialize error", "ulx cross matching error" and "Diarization error".
 */
public class SpeakerDiarizationWrapper {
  static {
    System.loadLibrary("Drumlin");
  }

  /**
   * Diarizes the WAV or MP3 file (an MP3 must end in ".mp3") with the models and the speaker
   * database "spdbdata" of {@code modelDir}.
   */
  public native String Diariztion(String audioPath, String modelDir);

  /** Diarizes the file given on the command line and prints the result. */
  public static void main(String[] args) {
    if (args.length != 2) {
      System.err.println(
          "usage: java com.jor.wrapper.SpeakerDiarizationWrapper <audio file> <model directory>");
      System.exit(2);
    }
    String result = new SpeakerDiarizationWrapper().Diariztion(args[0], args[1]);
    System.out.print(result);
    System.out.flush();
    System.exit(result != null && result.startsWith("<?xml") ? 0 : 1);
  }
}
