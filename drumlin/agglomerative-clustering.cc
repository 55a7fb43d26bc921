#include "drumlin/agglomerative-clustering.h"

#include <algorithm>
#include <numeric>

namespace drumlin {

std::vector<Merge> AverageLinkageDendrogram(const std::vector<float>& similarity, int n) {
  std::vector<Merge> merges;
  if (n < 2) return merges;
  const size_t stride = static_cast<size_t>(n);
  std::vector<float> s(similarity.begin(), similarity.begin() + stride * stride);
  std::vector<int> size(n, 1);
  std::vector<char> active(n, 1);
  std::vector<int> chain;
  chain.reserve(n);
  merges.reserve(n - 1);
  int remaining = n;
  while (remaining > 1) {
    if (chain.empty()) {
      for (int i = 0; i < n; ++i) {
        if (active[i]) {
          chain.push_back(i);
          break;
        }
      }
    }
    const int a = chain.back();
    const int previous = chain.size() >= 2 ? chain[chain.size() - 2] : -1;
    // The previous link wins ties, which keeps the chain from cycling.
    int best = previous;
    float bestSim = previous >= 0 ? s[a * stride + previous] : 0.0f;
    const float* row = &s[a * stride];
    for (int c = 0; c < n; ++c) {
      if (c == a || !active[c]) continue;
      if (best < 0 || row[c] > bestSim) {
        best = c;
        bestSim = row[c];
      }
    }
    if (best != previous) {
      chain.push_back(best);
      continue;
    }
    // a and previous are reciprocal nearest neighbours: join them into a.
    chain.pop_back();
    chain.pop_back();
    const int b = previous;
    merges.push_back({a, b, bestSim});
    const float wa = static_cast<float>(size[a]), wb = static_cast<float>(size[b]);
    const float inv = 1.0f / (wa + wb);
    for (int c = 0; c < n; ++c) {
      if (!active[c] || c == a || c == b) continue;
      const float v = (wa * s[a * stride + c] + wb * s[b * stride + c]) * inv;
      s[a * stride + c] = v;
      s[c * stride + a] = v;
    }
    size[a] += size[b];
    active[b] = 0;
    --remaining;
  }
  return merges;
}

namespace {

int Find(std::vector<int>& parent, int x) {
  while (parent[x] != x) {
    parent[x] = parent[parent[x]];
    x = parent[x];
  }
  return x;
}

}  // namespace

std::vector<int> CutDendrogram(const std::vector<Merge>& merges, int n, const CutOptions& cut) {
  std::vector<int> labels(std::max(n, 0), 0);
  if (n <= 0) return labels;
  std::vector<Merge> order = merges;
  std::stable_sort(order.begin(), order.end(),
                   [](const Merge& x, const Merge& y) { return x.similarity > y.similarity; });
  const int most = static_cast<int>(order.size());
  int applied;
  if (cut.clusters > 0) {
    applied = n - std::min(cut.clusters, n);
  } else {
    applied = 0;
    while (applied < most && order[applied].similarity >= cut.threshold) ++applied;
  }
  if (cut.maxClusters > 0) applied = std::max(applied, n - cut.maxClusters);
  applied = std::clamp(applied, 0, most);

  std::vector<int> parent(n);
  std::iota(parent.begin(), parent.end(), 0);
  for (int k = 0; k < applied; ++k) {
    const int ra = Find(parent, order[k].a), rb = Find(parent, order[k].b);
    if (ra != rb) parent[std::max(ra, rb)] = std::min(ra, rb);
  }
  std::vector<int> number(n, -1);
  int next = 0;
  for (int i = 0; i < n; ++i) {
    const int root = Find(parent, i);
    if (number[root] < 0) number[root] = next++;
    labels[i] = number[root];
  }
  return labels;
}

}  // namespace drumlin
