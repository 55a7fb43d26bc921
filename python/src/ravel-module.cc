// ravel._ravel: the compiled half of the Python package. It converts Python
// and NumPy values to the engine's plain arguments, releases the interpreter
// lock around every piece of engine work, and turns EngineError into
// ravel.RavelError. Everything a user sees is shaped in the Python half.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drumlin/audec.h"
#include "drumlin/diarization-driver.h"
#include "drumlin/speaker-database.h"
#include "python/src/batch-scorer.h"
#include "python/src/engine-error.h"
#include "python/src/engine-session.h"
#include "pellam/pellam.h"

namespace py = pybind11;
using ravel_py::BatchScorer;
using ravel_py::EngineSession;
using ravel_py::QualityValues;
using ravel_py::Stream;
using ravel_py::TemplateResult;

namespace {

using Pcm = py::array_t<int16_t, py::array::c_style | py::array::forcecast>;
using Floats = py::array_t<float, py::array::c_style | py::array::forcecast>;

py::tuple TemplateTuple(const TemplateResult& t) {
  return py::make_tuple(py::bytes(t.bytes.data(), t.bytes.size()), t.duration, t.volume, t.snr);
}

py::tuple QualityTuple(const QualityValues& q) {
  return py::make_tuple(q.duration, q.volume, q.snr, q.validFreqStart, q.validFreqEnd,
                        py::array_t<float>(q.freqSnr.size(), q.freqSnr.data()));
}

template <typename F>
TemplateResult OnPcm(const Pcm& pcm, F&& f) {
  if (pcm.ndim() != 1) throw py::value_error("PCM must be a one-dimensional array of samples");
  const int16_t* data = pcm.data();
  const size_t n = static_cast<size_t>(pcm.size());
  py::gil_scoped_release unlocked;
  return f(data, n);
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* data) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t block[1 << 16];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, f)) > 0) data->insert(data->end(), block, block + got);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

// 8 kHz mono 16-bit samples of a WAV or MP3 file, by the kit's decoder.
py::array_t<int16_t> DecodeAudio(const std::string& path, bool mp3) {
  std::vector<uint8_t> pcm;
  int status = 0;
  bool readable = true;
  {
    py::gil_scoped_release unlocked;
    std::vector<uint8_t> data;
    readable = ReadFile(path, &data);
    if (readable) {
      Audec audec;
      status = audec.Decode(mp3 ? AudecFormatMp3 : AudecFormatWav, data.data(), data.size(), &pcm);
    }
  }
  if (!readable) {
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
  }
  if (status != 0) {
    throw py::value_error(path + ": not a readable " + (mp3 ? "MP3" : "WAV") +
                          " recording (decoder status " + std::to_string(status) + ")");
  }
  py::array_t<int16_t> out(static_cast<py::ssize_t>(pcm.size() / 2));
  std::memcpy(out.mutable_data(), pcm.data(), (pcm.size() / 2) * 2);
  return out;
}

py::list ReadDatabase(const std::string& path) {
  std::vector<drumlin::SpeakerEntry> entries;
  int r;
  {
    py::gil_scoped_release unlocked;
    r = drumlin::ReadSpeakerDatabase(path, &entries);
  }
  if (r != drumlin::kSpeakerDbOk) throw py::value_error(path + ": cannot read the speaker database");
  py::list out;
  for (const auto& e : entries) {
    out.append(py::make_tuple(e.number, py::bytes(e.name), e.flag,
                              py::bytes(e.templ.data(), e.templ.size())));
  }
  return out;
}

void WriteDatabase(const std::string& path, const py::list& items) {
  std::vector<drumlin::SpeakerEntry> entries;
  for (const auto& item : items) {
    const auto t = item.cast<py::tuple>();
    drumlin::SpeakerEntry e;
    e.number = t[0].cast<int32_t>();
    e.name = t[1].cast<std::string>();
    e.flag = t[2].cast<uint8_t>();
    const std::string templ = t[3].cast<std::string>();
    e.templ.assign(templ.begin(), templ.end());
    entries.push_back(std::move(e));
  }
  int r;
  {
    py::gil_scoped_release unlocked;
    r = drumlin::WriteSpeakerDatabase(path, entries);
  }
  switch (r) {
    case drumlin::kSpeakerDbOk:
      return;
    case drumlin::kSpeakerDbNameTooLong:
      throw py::value_error("a speaker name is longer than 127 bytes");
    case drumlin::kSpeakerDbTemplateSize:
      throw py::value_error("speaker database templates must be " +
                            std::to_string(drumlin::kSpeakerTemplateBytes) + " bytes");
    default:
      PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
      throw py::error_already_set();
  }
}

py::tuple Diarize(const std::string& path, const std::string& modelsDir) {
  drumlin::DiarizationReport report;
  std::string xml;
  {
    py::gil_scoped_release unlocked;
    xml = drumlin::Diarize(drumlin::BoundPellamApi(), path.c_str(), modelsDir.c_str(), {}, &report);
  }
  py::list turns;
  for (const auto& t : report.turns) turns.append(py::make_tuple(py::bytes(t.name), t.start, t.end));
  return py::make_tuple(py::bytes(xml), report.pieceCount, report.labels, turns);
}

}  // namespace

PYBIND11_MODULE(_ravel, m) {
  m.doc() = "Compiled half of the ravel package; use the ravel module instead.";

  // Kept for the life of the process: the translator may run during shutdown.
  static PyObject* errorClass =
      py::object(py::module_::import("ravel._errors").attr("RavelError")).release().ptr();
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const ravel_py::EngineError& e) {
      py::object error = py::reinterpret_borrow<py::object>(errorClass)(e.status(), e.detail(),
                                                                        e.what());
      PyErr_SetObject(errorClass, error.ptr());
    }
  });

  py::class_<EngineSession, std::shared_ptr<EngineSession>>(m, "EngineSession")
      .def(py::init<const std::string&, bool>(), py::call_guard<py::gil_scoped_release>())
      .def("close", &EngineSession::Close, py::call_guard<py::gil_scoped_release>())
      .def_property_readonly("closed", &EngineSession::closed)
      .def_property_readonly("template_size", &EngineSession::TemplateSize)
      .def_property_readonly("feature_dim", &EngineSession::FeatureDim)
      .def("xvector_template",
           [](EngineSession& s, const Pcm& pcm) {
             return TemplateTuple(
                 OnPcm(pcm, [&](const int16_t* d, size_t n) { return s.XvectorTemplate(d, n); }));
           })
      .def("ivector_template",
           [](EngineSession& s, const Pcm& pcm) {
             return TemplateTuple(
                 OnPcm(pcm, [&](const int16_t* d, size_t n) { return s.IvectorTemplate(d, n); }));
           })
      .def("compare",
           [](EngineSession& s, const py::bytes& a, const py::bytes& b) {
             const std::string_view first(a), second(b);
             py::gil_scoped_release unlocked;
             return s.Compare(first.data(), first.size(), second.data(), second.size());
           })
      .def("features",
           [](EngineSession& s, const Pcm& pcm) {
             if (pcm.ndim() != 1) throw py::value_error("PCM must be one-dimensional");
             QualityValues q;
             std::vector<float> f;
             {
               const int16_t* d = pcm.data();
               const size_t n = static_cast<size_t>(pcm.size());
               py::gil_scoped_release unlocked;
               f = s.Features(d, n, &q);
             }
             const size_t dim = s.FeatureDim() > 0 ? static_cast<size_t>(s.FeatureDim()) : 1;
             py::array_t<float> rows({static_cast<py::ssize_t>(f.size() / dim),
                                      static_cast<py::ssize_t>(dim)});
             std::memcpy(rows.mutable_data(), f.data(), (f.size() / dim) * dim * sizeof(float));
             return py::make_tuple(rows, QualityTuple(q));
           })
      .def("check_template", [](EngineSession& s, const py::bytes& t) {
        const std::string_view v(t);
        return s.CheckTemplate(v.data(), v.size());
      });

  py::class_<Stream>(m, "Stream")
      .def(py::init<std::shared_ptr<EngineSession>>())
      .def("put",
           [](Stream& s, const Pcm& pcm) {
             OnPcm(pcm, [&](const int16_t* d, size_t n) {
               s.Put(d, n);
               return TemplateResult{};
             });
           })
      .def("quality", [](Stream& s) { return QualityTuple(s.Quality()); })
      .def("template",
           [](Stream& s) {
             TemplateResult t;
             {
               py::gil_scoped_release unlocked;
               t = s.Template();
             }
             return TemplateTuple(t);
           })
      .def("reset", &Stream::Reset, py::call_guard<py::gil_scoped_release>())
      .def("close", &Stream::Close);

  py::class_<BatchScorer, std::shared_ptr<BatchScorer>>(m, "BatchScorer")
      .def(py::init<const std::string&>(), py::call_guard<py::gil_scoped_release>())
      .def_property_readonly("values", &BatchScorer::Values)
      .def("score", [](const BatchScorer& b, const Floats& probe, const Floats& rows,
                       const Floats& durations) {
        const size_t v = b.Values();
        if (probe.ndim() != 1 || static_cast<size_t>(probe.size()) != v)
          throw py::value_error("the probe must hold " + std::to_string(v) + " values");
        if (rows.ndim() != 2 || static_cast<size_t>(rows.shape(1)) != v)
          throw py::value_error("stored rows must hold " + std::to_string(v) + " values each");
        const size_t n = static_cast<size_t>(rows.shape(0));
        if (durations.ndim() != 1 || static_cast<size_t>(durations.size()) != n)
          throw py::value_error("one duration per stored row is needed");
        py::array_t<float> out(static_cast<py::ssize_t>(n));
        const float* p = probe.data();
        const float* r = rows.data();
        const float* d = durations.data();
        float* o = out.mutable_data();
        {
          py::gil_scoped_release unlocked;
          b.Score(p, r, n, d, o);
        }
        return out;
      });

  m.def("delete_shared_model", [] {
    // Ordinal 3, RecDeleteSharedModels: the status (0 or 257).
    return Entry_c1f6cb9586831830540883db12d9b1cc1b88e37af83088ac8aa29fbe7fe263bd();
  });
  m.def("decode_audio", &DecodeAudio, py::arg("path"), py::arg("mp3"));
  m.def("read_speaker_database", &ReadDatabase);
  m.def("write_speaker_database", &WriteDatabase);
  m.def("diarize_pieces", &Diarize);
  m.attr("SPEAKER_TEMPLATE_BYTES") = drumlin::kSpeakerTemplateBytes;
  m.attr("SPEAKER_NAME_BYTES") = drumlin::kSpeakerNameBytes;
}
