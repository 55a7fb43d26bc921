#include "common/result-text.h"

#include "common/result-codes.h"

#include <algorithm>
#include <cstdio>

namespace jor {
namespace {

const std::vector<StatusText> kStatuses = {
    {256, "out of memory"},
    {257, "i-vector model sharing failed: shared memory"},
    {768, "invalid argument: null handle or output, wrong buffer size, empty input"},
    {769, "engine not initialised"},
    {1024, "model data unreadable or inconsistent"},
    {1280, "input rejected by feature, i-vector or x-vector extraction"},
    {1536, "scoring argument of the wrong length, null or out of range"},
    {1792, "template malformed or of the wrong length"},
    {1793, "template of another format version"},
    {4095, "internal error: shape mismatch, unusable model, caught exception"},
};

// Codes of the HTK model reader, the low byte of details 0x61xx (selection
// GMM) and 0x62xx (posterior GMM).
const DetailText kHtkCodes[] = {
    {1, "symbol expected"},
    {2, "illegal macro type"},
    {3, "\"#\" not supported"},
    {4, "keyword too long"},
    {5, "undefined keyword"},
    {16, "file-level token is not a macro"},
    {17, "file-level macro is not \"~o\" or \"~h\""},
    {18, "\"STREAMINFO\" error"},
    {19, "\"VECSIZE\" error or missing"},
    {20, "stream width mismatch"},
    {21, "vector size or parameter kind mismatch"},
    {32, "\"~h\" name error"},
    {33, "duplicate HMM name"},
    {34, "\"BEGINHMM\" missing"},
    {35, "\"ENDHMM\" missing"},
    {36, "\"NUMSTATES\" missing"},
    {37, "\"NUMSTATES\" value wrong"},
    {38, "\"STATE\" missing"},
    {39, "\"STATE\" number wrong"},
    {40, "\"~s\" name error"},
    {41, "\"~s\" state not found"},
    {48, "\"~t\" name error"},
    {49, "transition matrix not found"},
    {50, "\"~t\" name error in the transition reader"},
    {51, "duplicate transition name"},
    {52, "\"TRANSP\" count short"},
    {53, "\"TRANSP\" values short"},
    {54, "\"TRANSP\" tag missing"},
    {64, "\"NUMMIXES\" short"},
    {65, "\"SWEIGHTS\" short"},
    {66, "\"SWEIGHTS\" count mismatch"},
    {67, "\"SWEIGHTS\" values short"},
    {68, "\"STREAM\" short"},
    {69, "stream number or tag wrong"},
    {70, "\"MIXTURE\" short"},
    {71, "mixture weight short or number wrong"},
    {72, "\"~m\" name error"},
    {73, "Gaussian not found"},
    {74, "duplicate state name"},
    {80, "\"~m\" name error"},
    {81, "duplicate Gaussian name"},
    {83, "\"~u\" name error"},
    {84, "\"~u\" mean not found"},
    {85, "\"~v\" name error"},
    {86, "\"~v\" variance not found"},
    {87, "\"~i\" name error"},
    {88, "\"~i\" inverse covariance not found"},
    {89, "\"GCONST\" short"},
    {96, "mean \"~u\" name error"},
    {98, "duplicate mean name"},
    {99, "mean tag wrong"},
    {100, "mean count short"},
    {101, "mean values short"},
    {112, "variance name error"},
    {113, "duplicate variance name"},
    {114, "variance tag wrong"},
    {115, "variance count short"},
    {116, "variance values short"},
    {128, "inverse covariance name error"},
    {129, "duplicate inverse covariance name"},
    {130, "inverse covariance tag wrong"},
    {131, "inverse covariance count short"},
    {132, "inverse covariance values short"},
    {240, "out of memory"},
};

std::vector<DetailText> BuildDetails() {
  std::vector<DetailText> d = {
      // Model container "ulxmodel.dat".
      {0x1015,
       "model container \"ulxmodel.dat\" missing, unreadable or shorter than 76 bytes "
       "(is the model folder right?)"},
      {0x1016,
       "model container malformed: format version not 1, section count not 6, or a "
       "section offset that cannot be reached"},
      // Vector and matrix routines.
      {0x1900, "vector or matrix dimensions do not match (empty input or wrong length)"},
      {0x1901, "singular matrix while solving the i-vector"},
      // Engine interface.
      {0x2020, "invalid argument: null output, empty template or negative duration"},
      {0x2030, "template malformed: wrong length, checksum, magic or header field"},
      {0x2031, "template made by another format version"},
      {0x2100, "memory exhausted while building a template, a pipeline or the engine"},
      {0x2FFF, "unexpected exception during initialisation"},
      // Feature extraction.
      {0x4001, "mel filter bank could not be allocated"},
      {0x4002, "invalid argument to feature extraction: empty PCM or null output"},
      {0x4010, "feature options invalid: \"mfcc-options.json\" cannot drive the features"},
      {0x4101, "the recording yields no frame (too short)"},
      {0x4102, "quality measures impossible: the signal level is out of range"},
      {0x4301, "no samples to process (nothing streamed since the last reset)"},
      {0x4302, "input too long for the configured limit"},
      {0x4FFF, "internal error in the feature pipeline"},
      // GMM posteriors.
      {0x5100, "memory exhausted in the GMM posterior stage"},
      {0x5101,
       "invalid argument to the GMM posteriors (more selected Gaussians than the "
       "model has?)"},
      {0x5301, "GMM and i-vector models not loaded"},
      {0x5FFF, "GMM model unusable: no HMM, not 3 states, no Gaussian or wrong dimension"},
      // I-vector extractor and shared-memory store.
      {0x7000, "i-vector model section unreadable (short read or positioning)"},
      {0x7001, "i-vector model malformed: element size, dimension out of range, or not loaded"},
      {0x7002, "memory exhausted while loading the i-vector model"},
      {0x7004, "shared-memory model store failed"},
      {0x7005, "feature dimension differs from the i-vector model's"},
      {0x7006, "no voiced frames: the recording holds no usable speech"},
      // Scoring.
      {0x8000, "mean/variance normalisation section unreadable"},
      {0x8001, "mean/variance normalisation dimension out of range"},
      {0x8002, "whitening section unreadable"},
      {0x8003, "whitening dimension out of range"},
      {0x8004, "SPLDA section missing or unreadable"},
      {0x8005, "SPLDA model malformed: element size, dimension or values"},
      {0x8006, "vector of the wrong length for the scoring model"},
      {0x8007, "null result pointer in scoring"},
      {0x8008,
       "value out of range: the vector cannot be normalised or the score is not a "
       "number"},
      // X-vector library ("xe5.pb" and its input).
      {0x9001, "x-vector network file \"xe5.pb\" missing"},
      {0x9002, "x-vector network file unreadable"},
      {0x9010, "not an \"xe5.pb\" file"},
      {0x9011, "unsupported \"xe5.pb\" format version"},
      {0x9012, "\"xe5.pb\" truncated or extended"},
      {0x9013, "\"xe5.pb\" checksum mismatch (damaged)"},
      {0x9014, "\"xe5.pb\" layers of an unknown kind or order"},
      {0x9015, "\"xe5.pb\" layer of size 0 or too large"},
      {0x9016, "\"xe5.pb\" layer dimensions inconsistent (or not the features' dimension)"},
      {0x9017, "\"xe5.pb\" frame context invalid"},
      {0x9018, "\"xe5.pb\" parameter not finite"},
      {0x9019, "\"xe5.pb\" unknown activation"},
      {0x901A, "\"xe5.pb\" record length wrong"},
      {0x9101, "x-vector input empty"},
      {0x9102, "x-vector input not whole feature rows"},
      {0x9103, "x-vector input not finite"},
      {0x9104, "x-vector embedding overflowed"},
      {0x9201, "memory exhausted in the x-vector network"},
      {0x9301, "x-vector network not initialised"},
      {0x9F01, "internal error in the x-vector network"},
  };
  for (const DetailText& code : kHtkCodes) {
    d.push_back({0x6100u | code.detail, code.meaning});
  }
  std::sort(d.begin(), d.end(),
            [](const DetailText& a, const DetailText& b) { return a.detail < b.detail; });
  return d;
}

}  // namespace

const std::vector<StatusText>& StatusTexts() {
  return kStatuses;
}

const std::vector<DetailText>& DetailTexts() {
  static const std::vector<DetailText> details = BuildDetails();
  return details;
}

const char* StatusMeaning(int status) {
  for (const StatusText& s : kStatuses) {
    if (s.status == status) return s.meaning;
  }
  for (const StatusInfo& row : kStatusTable) {
    if (row.status == status) return row.meaning;
  }
  return nullptr;
}

const char* DetailMeaning(uint32_t detail) {
  // The second GMM's reader details share the first's meanings.
  if (detail >= 0x6200 && detail <= 0x62FF) detail -= 0x100;
  for (const DetailText& d : DetailTexts()) {
    if (d.detail == detail) return d.meaning;
  }
  // Codes without a reworded text read as the result table states them.
  for (const ResultInfo& row : kResultTable) {
    if (row.detail == detail) return row.meaning;
  }
  return nullptr;
}

std::string DescribeResult(int status, uint32_t detail) {
  char buffer[64];
  std::string text;
  std::snprintf(buffer, sizeof buffer, "status %d", status);
  text = buffer;
  if (const char* s = StatusMeaning(status)) text += std::string(" (") + s + ")";
  if (detail != 0) {
    std::snprintf(buffer, sizeof buffer, ", detail 0x%05X", detail);
    text += buffer;
    if (const char* d = DetailMeaning(detail)) {
      text += " (";
      if (detail >= 0x6100 && detail <= 0x62FF) {
        text += detail < 0x6200 ? "selection GMM: " : "posterior GMM: ";
      }
      text += d;
      text += ")";
    }
  }
  return text;
}

const char* DecoderStatusMeaning(int status) {
  switch (status) {
    case 0:
      return "success";
    case -1:
      return "invalid format type, or no decoded header";
    case -2:
      return "invalid range or PCM size";
    case -3:
      return "range beyond the decoded data";
    case -1000:
      return "invalid piece length or format type";
    case -1001:
      return "recording shorter than one piece";
    case -1200:
      return "empty WAV file";
    case -1201:
      return "not a RIFF file";
    case -1202:
      return "RIFF size does not match the file size";
    case -1203:
      return "RIFF file is not WAVE";
    case -1204:
      return "format chunk missing where expected";
    case -1205:
      return "format chunk of another size than 16";
    case -1206:
      return "not linear PCM";
    case -1207:
      return "neither mono nor stereo";
    case -1208:
      return "data chunk not found where expected";
    case -1209:
      return "data size does not match the file size";
    case -1210:
      return "unsupported sample width";
    case -1211:
      return "invalid sample rate";
    case -1212:
      return "output too large";
    case -2100:
      return "MP3 decoder could not be initialised";
    case -2101:
      return "MP3 decoder parameters could not be initialised";
    case -2102:
      return "MP3 frame decoder could not be initialised";
    case -2200:
      return "MP3 decoding failed";
    case -2201:
      return "MP3 samples before a parsed header";
    case -2202:
      return "no MP3 audio found";
    case -2203:
      return "MP3 recording too large";
    case -3000:
      return "out of memory";
    default:
      return nullptr;
  }
}

}  // namespace jor
