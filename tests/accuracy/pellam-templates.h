// Templates of held-out recordings through Pellam's exports, shared by the
// accuracy tests of the trained deployments.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/accuracy/heldout-set.h"
#include "tests/pellam/pellam-aliases.h"

namespace jor_accuracy {

// One template per recording: an x-vector (ordinal 6), or a streamed i-vector
// (ordinals 10, 7 in pieces of `chunk` samples, then 8). A failure is reported
// and leaves that template empty.
inline std::vector<std::vector<char>> PellamTemplates(void* h, const std::vector<Recording>& recs,
                                                      bool xvector, size_t chunk) {
  const size_t size = static_cast<size_t>(RecSize());
  std::vector<std::vector<char>> templates;
  for (const Recording& r : recs) {
    std::vector<char> templ(size);
    float duration = 0, volume = 0, snr = 0;
    int status = 0;
    if (xvector) {
      const size_t n = r.pcm.size();
      status = RecMakeX(h, r.pcm.data(), &n, templ.data(), &size, &duration, &volume, &snr);
    } else {
      status = RecReset_(h);
      for (size_t at = 0; status == 0 && at < r.pcm.size(); at += chunk) {
        const size_t n = std::min(chunk, r.pcm.size() - at);
        status = RecPut(h, r.pcm.data() + at, &n);
      }
      if (status == 0) status = RecMakeI(h, templ.data(), &size, &duration, &volume, &snr);
    }
    if (status != 0) {
      ADD_FAILURE() << r.id << ": status " << status << ", detail " << RecDetail(h);
      templ.clear();
    }
    templates.push_back(std::move(templ));
  }
  return templates;
}

}  // namespace jor_accuracy
