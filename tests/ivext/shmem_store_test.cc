#include "IvectorExt/ivext/shmem-manager.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <boost/interprocess/mapped_region.hpp>
#include <boost/interprocess/shared_memory_object.hpp>

#include "IvectorExt/ivext/iv-extractor.h"
#include "IvectorExt/ivext/shared-model-lock.h"
#include "tests/ivext/ivector-reference.h"
#include "tools/modelio/ivector-writer.h"
#include "tests/support/test-dir.h"

extern char** environ;

namespace {

namespace bip = boost::interprocess;
using modelio::IvectorModel;

constexpr int kFormatError = static_cast<int>(0x40007001u);
constexpr int kSharedError = static_cast<int>(0x10107004u);

struct ChildResult {
  int load = -1, extract = -1, elemSize = -1, shared = -1;
  std::vector<float> ivector;
};

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "JOR_SHMEM_LOCK_TIMEOUT_MS=", 26) != 0) envp.push_back(*e);
  for (const std::string& e : extraEnv) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, IVEXT_SHMEM_CHILD, nullptr, nullptr, argv.data(), envp.data()) != 0)
    return -1;
  return pid;
}

// Exit status of the child, or -1 (after killing it) when it runs too long.
int WaitChild(pid_t pid, int timeoutMs = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (r < 0) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

ChildResult ReadChildResult(const std::string& path) {
  ChildResult r;
  const std::string bytes = jor_test::ReadFile(path);
  int32_t head[5];
  if (bytes.size() < sizeof head) return r;
  std::memcpy(head, bytes.data(), sizeof head);
  r.load = head[0];
  r.extract = head[1];
  r.elemSize = head[2];
  r.shared = head[3];
  if (head[4] > 0 && bytes.size() == sizeof head + static_cast<size_t>(head[4]) * sizeof(float)) {
    r.ivector.resize(static_cast<size_t>(head[4]));
    std::memcpy(r.ivector.data(), bytes.data() + sizeof head, r.ivector.size() * sizeof(float));
  }
  return r;
}

UtteranceStats<float> FloatStats(const ivext_test::Stats& s, int featureDim) {
  UtteranceStats<float> stats(featureDim, static_cast<int>(s.zeroth.size()));
  stats.numFrames = 1;
  for (size_t c = 0; c < s.zeroth.size(); ++c) {
    stats.zeroth[c] = static_cast<float>(s.zeroth[c]);
    for (size_t d = 0; d < s.first[c].size(); ++d)
      stats.first[c][d] = static_cast<float>(s.first[c][d]);
  }
  return stats;
}

void ExpectNear(const std::vector<float>& got, const std::vector<double>& want, double relTol) {
  ASSERT_EQ(got.size(), want.size());
  double scale = 1.0;
  for (double v : want) scale = std::max(scale, std::fabs(v));
  for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[i], want[i], relTol * scale) << i;
}

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 4000 && !std::filesystem::exists(path); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return std::filesystem::exists(path);
}

double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// FNV-1a (64-bit) of the model section from its element size on, written
// out here as the trailer's hash is specified.
uint64_t SectionHash(const std::string& file) {
  uint64_t h = 14695981039346656037ull;
  for (size_t i = 32; i < file.size(); ++i) {
    h ^= static_cast<unsigned char>(file[i]);
    h *= 1099511628211ull;
  }
  return h;
}

int LoadPath(ivext::IvExtractor& iv, const std::string& path, bool share = true) {
  FILE* file = std::fopen(path.c_str(), "rb");
  const int rc = iv.LoadModel(file, share);
  if (file != nullptr) std::fclose(file);
  return rc;
}

std::vector<float> ExtractWith(ivext::IvExtractor& iv, uint32_t seed) {
  const ivext_test::Stats s = ivext_test::RandomStats(iv.NumGaussians(), iv.FeatureDim(), seed);
  std::vector<float> w;
  EXPECT_EQ(iv.Extract(FloatStats(s, iv.FeatureDim()), w), 0);
  return w;
}

class ShmemStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ivext::ShmemManager::RemoveShared(), 0u);
    ivext::ShmemManager::SetLockTimeout(std::chrono::milliseconds(10000));
  }
  void TearDown() override {
    EXPECT_EQ(ivext::ShmemManager::RemoveShared(), 0u);
    ivext::ShmemManager::SetLockTimeout(std::chrono::milliseconds(0));
  }

  std::string WriteModel(const IvectorModel& m, int elemSize, const std::string& name = "m.bin") {
    const std::string path = dir.File(name);
    modelio::WriteIvectorModel(path, m, elemSize);
    return path;
  }

  jor_test::TestDir dir;
};

TEST_F(ShmemStoreTest, RemovalWithoutSegmentSucceeds) {
  EXPECT_FALSE(ivext::ShmemManager().Exists());
  EXPECT_EQ(ivext::ShmemManager::RemoveShared(), 0u);
  EXPECT_EQ(ivext::ShmemManager::RemoveShared(), 0u);
  // A private load never creates the store.
  ivext::IvExtractor iv;
  ASSERT_EQ(LoadPath(iv, WriteModel(modelio::RandomIvectorModel(2, 3, 4, 1), 4), false), 0);
  EXPECT_FALSE(iv.IsShared());
  EXPECT_FALSE(ivext::ShmemManager().Exists());
}

// Reads the segment as bytes and checks every header field and a sample of
// both arrays against values computed here.
template <class V>
V At(const unsigned char* base, size_t offset) {
  V v;
  std::memcpy(&v, base + offset, sizeof v);
  return v;
}

TEST_F(ShmemStoreTest, SegmentLayoutForFloatAndDoubleModels) {
  const int C = 3, F = 4, R = 5;
  for (int elemSize : {4, 8}) {
    SCOPED_TRACE(elemSize);
    ASSERT_EQ(ivext::ShmemManager::RemoveShared(), 0u);
    IvectorModel m = modelio::RandomIvectorModel(C, F, R, 40 + elemSize, 12.25);
    if (elemSize == 4) m.RoundToFloat();
    ivext::IvExtractor iv;
    ASSERT_EQ(LoadPath(iv, WriteModel(m, elemSize)), 0);
    EXPECT_TRUE(iv.IsShared());
    EXPECT_EQ(iv.ElemSize(), elemSize);

    bip::shared_memory_object shm(bip::open_only, "jor_speaker_recognition", bip::read_only);
    bip::offset_t size = 0;
    ASSERT_TRUE(shm.get_size(size));
    const size_t header = elemSize == 4 ? 24 : 28;
    const size_t arrayEnd = elemSize == 4 ? 24 + 4 * C * F * R + 2 * C * R * (R + 1)
                                          : 28 + 8 * C * F * R + 4 * C * R * (R + 1);
    ASSERT_EQ(static_cast<size_t>(size), arrayEnd + 16);
    bip::mapped_region region(shm, bip::read_only);
    const auto* base = static_cast<const unsigned char*>(region.get_address());
    // The trailer names the model: tag, then the hash of the section.
    EXPECT_EQ(std::memcmp(base + arrayEnd, "JORMHASH", 8), 0);
    EXPECT_EQ(At<uint64_t>(base, arrayEnd + 8), SectionHash(jor_test::ReadFile(dir.File("m.bin"))));
    // Only the owner may read, replace or lock the model.
    for (const char* name :
         {"/dev/shm/jor_speaker_recognition", "/dev/shm/jor_speaker_recognition_mutex"}) {
      struct stat st;
      ASSERT_EQ(::stat(name, &st), 0) << name;
      EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
    }
    EXPECT_EQ(At<int32_t>(base, 0), elemSize);
    EXPECT_EQ(At<int32_t>(base, 4), C);
    EXPECT_EQ(At<int32_t>(base, 8), F);
    EXPECT_EQ(At<int32_t>(base, 12), R);
    EXPECT_EQ(At<int32_t>(base, 16), 0);
    const double prior = elemSize == 4 ? At<float>(base, 20) : At<double>(base, 20);
    EXPECT_EQ(prior, 12.25);

    auto value = [&](size_t index) {
      const size_t offset = header + index * static_cast<size_t>(elemSize);
      return elemSize == 4 ? static_cast<double>(At<float>(base, offset))
                           : At<double>(base, offset);
    };
    const double tol = elemSize == 4 ? 1e-5 : 1e-12;
    for (int g = 0; g < C; ++g) {
      const double* packed = m.sigmaInv.data() + g * F * (F + 1) / 2;
      auto sigma = [&](int i, int j) {
        return i >= j ? packed[i * (i + 1) / 2 + j] : packed[j * (j + 1) / 2 + i];
      };
      const double* t = m.t.data() + g * F * R;
      std::vector<double> st(F * R, 0.0);
      for (int i = 0; i < F; ++i)
        for (int j = 0; j < R; ++j)
          for (int k = 0; k < F; ++k) st[i * R + j] += sigma(i, k) * t[k * R + j];
      for (int i = 0; i < F * R; ++i)
        EXPECT_NEAR(value(g * F * R + i), st[i], tol * 10) << "sigmaInvT " << g << "," << i;
      const size_t quadBase = static_cast<size_t>(C * F * R + g * R * (R + 1) / 2);
      for (int i = 0; i < R; ++i)
        for (int j = 0; j <= i; ++j) {
          double u = 0.0;
          for (int k = 0; k < F; ++k) u += t[k * R + i] * st[k * R + j];
          EXPECT_NEAR(value(quadBase + i * (i + 1) / 2 + j), u, tol * 10)
              << "quadTerms " << g << "," << i << "," << j;
        }
    }
  }
}

// The model that one extractor published serves a second one without its
// file, with identical results; the private load of the same file agrees.
TEST_F(ShmemStoreTest, SecondLoadAttachesWithoutTheFile) {
  const IvectorModel m = [] {
    IvectorModel x = modelio::RandomIvectorModel(4, 6, 8, 51);
    x.RoundToFloat();
    return x;
  }();
  const std::string path = WriteModel(m, 4);
  ivext::IvExtractor writer, priv;
  ASSERT_EQ(LoadPath(writer, path), 0);
  ASSERT_EQ(LoadPath(priv, path, false), 0);
  ASSERT_TRUE(writer.IsShared());
  const std::vector<float> w = ExtractWith(writer, 52);
  ExpectNear(w, ivext_test::ReferenceIvector(m, ivext_test::RandomStats(4, 6, 52)), 2e-4);
  EXPECT_EQ(ExtractWith(priv, 52), w);

  ivext::IvExtractor reader;
  const bool share = true;
  ASSERT_EQ(reader.LoadModel(nullptr, share), 0);
  EXPECT_TRUE(reader.IsShared());
  EXPECT_EQ(reader.IvectorDim(), 8);
  EXPECT_EQ(ExtractWith(reader, 52), w);

  // Another process, after the file is gone.
  std::filesystem::remove(path);
  const std::string out = dir.File("child.out");
  ASSERT_EQ(WaitChild(Spawn({IVEXT_SHMEM_CHILD, "extract", path, out, "52"})), 0);
  const ChildResult r = ReadChildResult(out);
  EXPECT_EQ(r.load, 0);
  EXPECT_EQ(r.extract, 0);
  EXPECT_EQ(r.elemSize, 4);
  EXPECT_EQ(r.shared, 1);
  EXPECT_EQ(r.ivector, w);
}

TEST_F(ShmemStoreTest, DoubleSegmentIsAttachedByTheDoubleExtractor) {
  const IvectorModel m = modelio::RandomIvectorModel(3, 5, 7, 61);
  const std::string path = WriteModel(m, 8);
  {
    ivext::IvExtractor writer;
    ASSERT_EQ(LoadPath(writer, path), 0);
    EXPECT_EQ(writer.ElemSize(), 8);
  }
  // The segment outlives its writer; a new process attaches without the file.
  std::filesystem::remove(path);
  const std::string out = dir.File("child.out");
  ASSERT_EQ(WaitChild(Spawn({IVEXT_SHMEM_CHILD, "extract", path, out, "62"})), 0);
  const ChildResult r = ReadChildResult(out);
  EXPECT_EQ(r.load, 0);
  EXPECT_EQ(r.extract, 0);
  EXPECT_EQ(r.elemSize, 8);
  EXPECT_EQ(r.shared, 1);
  ExpectNear(r.ivector, ivext_test::ReferenceIvector(m, ivext_test::RandomStats(3, 5, 62)), 1e-6);
}

// Four processes initialising with sharing at once: one writes, the others
// wait for it (or lose the race and find its model), and all agree.
TEST_F(ShmemStoreTest, FourProcessesStartedTogetherAgree) {
  IvectorModel m = modelio::RandomIvectorModel(16, 12, 40, 71);
  m.RoundToFloat();
  const std::string path = WriteModel(m, 4);
  const std::vector<double> want =
      ivext_test::ReferenceIvector(m, ivext_test::RandomStats(16, 12, 72));
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(ivext::ShmemManager::RemoveShared(), 0u);
    std::vector<std::string> outs;
    std::vector<pid_t> pids;
    for (int k = 0; k < 4; ++k) {
      outs.push_back(dir.File("p" + std::to_string(k) + ".out"));
      pids.push_back(Spawn({IVEXT_SHMEM_CHILD, "extract", path, outs.back(), "72"}));
      ASSERT_GT(pids.back(), 0);
    }
    for (pid_t pid : pids) ASSERT_EQ(WaitChild(pid), 0);
    const ChildResult first = ReadChildResult(outs[0]);
    for (const std::string& out : outs) {
      const ChildResult r = ReadChildResult(out);
      EXPECT_EQ(r.load, 0);
      EXPECT_EQ(r.extract, 0);
      EXPECT_EQ(r.shared, 1);
      EXPECT_EQ(r.ivector, first.ivector);
    }
    ExpectNear(first.ivector, want, 2e-4);
  }
}

// A segment is used only for the model it was made from. Whatever else it
// holds, a process with another model file gets that file's i-vectors from
// a private copy (it never shares another model's templates).
TEST_F(ShmemStoreTest, SegmentOfAnotherModelIsNeverUsed) {
  IvectorModel a = modelio::RandomIvectorModel(3, 4, 6, 111);
  a.RoundToFloat();
  IvectorModel sameShape = modelio::RandomIvectorModel(3, 4, 6, 112);
  sameShape.RoundToFloat();
  IvectorModel otherShape = modelio::RandomIvectorModel(5, 4, 7, 113);
  otherShape.RoundToFloat();
  const IvectorModel wide = modelio::RandomIvectorModel(3, 4, 6, 114);
  struct Case {
    const char* name;
    const IvectorModel* published;
    int publishedElem;
    const IvectorModel* loaded;
    int loadedElem;
    bool dropTrailer;  // a segment from a writer that did not name its model
  };
  const Case cases[] = {
      {"same shape, other values", &a, 4, &sameShape, 4, false},
      {"other shape", &a, 4, &otherShape, 4, false},
      {"double segment, float file", &wide, 8, &a, 4, false},
      {"float segment, double file", &a, 4, &wide, 8, false},
      {"same model, segment without its name", &a, 4, &a, 4, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(ivext::ShmemManager::RemoveShared(), 0u);
    const std::string published = WriteModel(*c.published, c.publishedElem, "published.bin");
    const std::string loaded = WriteModel(*c.loaded, c.loadedElem, "loaded.bin");
    {
      ivext::IvExtractor writer;
      ASSERT_EQ(LoadPath(writer, published), 0);
      ASSERT_TRUE(writer.IsShared());
    }
    if (c.dropTrailer) {
      bip::shared_memory_object shm(bip::open_only, "jor_speaker_recognition", bip::read_write);
      bip::offset_t size = 0;
      ASSERT_TRUE(shm.get_size(size));
      shm.truncate(size - 16);
    }
    const int C = c.loaded->numGaussians, F = c.loaded->featureDim;
    const std::vector<double> want =
        ivext_test::ReferenceIvector(*c.loaded, ivext_test::RandomStats(C, F, 115));
    const double tol = c.loadedElem == 4 ? 2e-4 : 1e-6;
    // Another process.
    const std::string out = dir.File("child.out");
    ASSERT_EQ(WaitChild(Spawn({IVEXT_SHMEM_CHILD, "extract", loaded, out, "115"})), 0);
    const ChildResult r = ReadChildResult(out);
    EXPECT_EQ(r.load, 0);
    EXPECT_EQ(r.extract, 0);
    EXPECT_EQ(r.shared, 0);
    EXPECT_EQ(r.elemSize, c.loadedElem);
    ExpectNear(r.ivector, want, tol);
    // This process, while the segment stays as it was.
    ivext::IvExtractor iv;
    ASSERT_EQ(LoadPath(iv, loaded), 0);
    EXPECT_FALSE(iv.IsShared());
    ExpectNear(ExtractWith(iv, 115), want, tol);
    ivext::IvExtractor same;
    ASSERT_EQ(LoadPath(same, published), 0);
    EXPECT_EQ(same.IsShared(), !c.dropTrailer);
  }
}

// A writer that lost the race must not wait for the winner's readers: it
// finds the published model and attaches.
TEST_F(ShmemStoreTest, LateWriterAttachesToThePublishedModel) {
  IvectorModel m = modelio::RandomIvectorModel(2, 3, 4, 81);
  ivext::IvExtractor first;
  ASSERT_EQ(LoadPath(first, WriteModel(m, 4)), 0);
  ASSERT_TRUE(first.IsShared());
  ivext::ShmemManager late;
  EXPECT_EQ(late.CreateForWrite(4096), nullptr);
  const void* base = late.OpenForRead();
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(ivext::shared_layout::LoadElemSize(base), 4);
}

// Segments that no writer completed (one died half way, or left a header
// that no layout fits) are never taken for a model: the next process that
// loads finds the lock free and writes the model again.
TEST_F(ShmemStoreTest, AbandonedSegmentsAreWrittenAgain) {
  IvectorModel m = modelio::RandomIvectorModel(2, 3, 4, 91);
  m.RoundToFloat();
  const std::string path = WriteModel(m, 4);
  struct Case {
    const char* name;
    int32_t mark, c, f, r;
  };
  const Case cases[] = {
      {"writer never finished", 0, 2, 3, 4},
      {"header larger than the segment", 4, 1000, 1000, 1000},
      {"element size of neither extractor", 2, 2, 3, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(ivext::ShmemManager::RemoveShared(), 0u);
    {
      ivext::ShmemManager writer;
      auto* base = static_cast<unsigned char*>(writer.CreateForWrite(4096));
      ASSERT_NE(base, nullptr);
      const int32_t dims[3] = {c.c, c.f, c.r};
      std::memcpy(base + 4, dims, sizeof dims);
      ivext::shared_layout::PublishElemSize(base, c.mark);
    }
    EXPECT_FALSE(ivext::ShmemManager::CompleteSegmentExists());
    ivext::IvExtractor iv;
    ASSERT_EQ(LoadPath(iv, path), 0);
    EXPECT_TRUE(iv.IsShared());
    ExpectNear(ExtractWith(iv, 92),
               ivext_test::ReferenceIvector(m, ivext_test::RandomStats(2, 3, 92)), 2e-4);
  }
}

// Processes that die holding the lock: the kernel drops it with them, so
// nothing waits for a dead holder. A killed writer's half-written segment is
// written again at once (well inside one lock timeout, which stays at its
// 30 s default in the children); a killed reader leaves no holder behind.
TEST_F(ShmemStoreTest, KilledHoldersAreRecoveredWithoutWaiting) {
  IvectorModel m = modelio::RandomIvectorModel(3, 4, 6, 101);
  m.RoundToFloat();
  const std::string path = WriteModel(m, 4);
  const std::vector<double> want =
      ivext_test::ReferenceIvector(m, ivext_test::RandomStats(3, 4, 102));
  for (const char* mode : {"die-writing", "attach-and-wait"}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(ivext::ShmemManager::RemoveShared(), 0u);
    const std::string ready = dir.File(std::string(mode) + ".ready");
    const pid_t holder = std::string(mode) == "die-writing"
                             ? Spawn({IVEXT_SHMEM_CHILD, mode, ready})
                             : Spawn({IVEXT_SHMEM_CHILD, mode, path, ready});
    ASSERT_GT(holder, 0);
    ASSERT_TRUE(WaitForFile(ready));
    ::kill(holder, SIGKILL);
    EXPECT_EQ(WaitChild(holder), 128 + SIGKILL);

    const auto t0 = std::chrono::steady_clock::now();
    const std::string out = dir.File("child.out");
    ASSERT_EQ(WaitChild(Spawn({IVEXT_SHMEM_CHILD, "extract", path, out, "102"})), 0);
    const double recovery = SecondsSince(t0);
    EXPECT_LT(recovery, 5.0);
    const ChildResult r = ReadChildResult(out);
    EXPECT_EQ(r.load, 0);
    EXPECT_EQ(r.shared, 1);
    ExpectNear(r.ivector, want, 2e-4);

    // Nobody holds the lock now: a writer gets it at once.
    ivext::SharedModelLock lock;
    EXPECT_EQ(lock.Acquire(ivext::SharedModelLock::Mode::kExclusive,
                           std::chrono::steady_clock::now() + std::chrono::milliseconds(500)),
              ivext::SharedModelLock::Result::kHeld);
  }
}

// The store removed by another process while a loader waits for a live
// writer: the loader gives up the removed objects at once and publishes the
// model afresh, without waiting for the writer of the removed segment.
TEST_F(ShmemStoreTest, RemovalDuringAWait) {
  IvectorModel m = modelio::RandomIvectorModel(3, 4, 6, 121);
  m.RoundToFloat();
  const std::string path = WriteModel(m, 4);
  const std::string ready = dir.File("ready");
  const pid_t holder = Spawn({IVEXT_SHMEM_CHILD, "die-writing", ready});
  ASSERT_GT(holder, 0);
  ASSERT_TRUE(WaitForFile(ready));

  const std::string out = dir.File("child.out");
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t loader = Spawn({IVEXT_SHMEM_CHILD, "extract", path, out, "122"});
  ASSERT_GT(loader, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // waiting for the holder
  ASSERT_EQ(ivext::ShmemManager::RemoveShared(), 0u);
  EXPECT_EQ(WaitChild(loader, 10000), 0);
  EXPECT_LT(SecondsSince(t0), 5.0);
  ::kill(holder, SIGKILL);
  EXPECT_EQ(WaitChild(holder), 128 + SIGKILL);

  const ChildResult r = ReadChildResult(out);
  EXPECT_EQ(r.load, 0);
  EXPECT_EQ(r.shared, 1);
  ExpectNear(r.ivector, ivext_test::ReferenceIvector(m, ivext_test::RandomStats(3, 4, 122)), 2e-4);
  ivext::IvExtractor iv;
  ASSERT_EQ(LoadPath(iv, path), 0);
  EXPECT_TRUE(iv.IsShared());
  EXPECT_EQ(ExtractWith(iv, 122), r.ivector);
}

// A live holder that never lets go: every wait is still bounded.
TEST_F(ShmemStoreTest, LiveHolderGivesBoundedFailure) {
  IvectorModel m = modelio::RandomIvectorModel(3, 4, 6, 131);
  m.RoundToFloat();
  const std::string path = WriteModel(m, 4);
  ivext::ShmemManager holder;
  ASSERT_NE(holder.CreateForWrite(4096), nullptr);
  const std::string out = dir.File("child.out");
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(WaitChild(Spawn({IVEXT_SHMEM_CHILD, "extract", path, out, "132"},
                            {"JOR_SHMEM_LOCK_TIMEOUT_MS=1000"})),
            0);
  const double waited = SecondsSince(t0);
  EXPECT_EQ(ReadChildResult(out).load, kSharedError);
  // One timeout, not one per element size.
  EXPECT_GE(waited, 1.0);
  EXPECT_LT(waited, 1.9);
}

}  // namespace
