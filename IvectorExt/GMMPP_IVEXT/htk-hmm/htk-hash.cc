#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hash.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int HashName(const char* key) {
  long long sum = 0;
  for (const char* p = key; *p != '\0'; ++p) sum += static_cast<signed char>(*p);
  if (sum < 0) sum = -sum;
  // Only names far beyond any stored name length could exceed int.
  return static_cast<int>(sum % 2147483647LL);
}

int HashNameEqual(const char* a, const char* b) {
  return std::strcmp(a, b) == 0 ? 1 : 0;
}

HashTable* HashCreate(int nBuckets, HashFunc hash, HashEqualFunc equal) {
  if (nBuckets < 1 || hash == nullptr || equal == nullptr) return nullptr;
  HashTable* table = static_cast<HashTable*>(std::malloc(sizeof(HashTable)));
  if (table == nullptr) return nullptr;
  table->buckets =
      static_cast<HashNode**>(std::calloc(static_cast<size_t>(nBuckets), sizeof(HashNode*)));
  if (table->buckets == nullptr) {
    std::free(table);
    return nullptr;
  }
  table->nBuckets = nBuckets;
  table->hash = hash;
  table->equal = equal;
  return table;
}

static int Bucket(const HashTable* table, const char* key) {
  const int h = table->hash(key);
  const int b = h % table->nBuckets;
  return b < 0 ? -b : b;
}

void* HashFind(const HashTable* table, const char* key) {
  if (table == nullptr || key == nullptr) return nullptr;
  for (HashNode* n = table->buckets[Bucket(table, key)]; n != nullptr; n = n->next) {
    if (table->equal(n->key, key)) return n->value;
  }
  return nullptr;
}

int HashInsert(HashTable* table, const char* key, void* value) {
  if (table == nullptr || key == nullptr) return 0;
  const int b = Bucket(table, key);
  for (HashNode* n = table->buckets[b]; n != nullptr; n = n->next) {
    if (table->equal(n->key, key)) return 0;
  }
  HashNode* node = static_cast<HashNode*>(std::malloc(sizeof(HashNode)));
  if (node == nullptr) {
    std::printf("HashInsert : out of memory.\n");
    return -1;
  }
  node->key = key;
  node->value = value;
  node->next = table->buckets[b];
  table->buckets[b] = node;
  return 1;
}

int HashDelete(HashTable* table, const char* key) {
  if (table == nullptr || key == nullptr) return 0;
  HashNode** link = &table->buckets[Bucket(table, key)];
  for (HashNode* n = *link; n != nullptr; link = &n->next, n = n->next) {
    if (table->equal(n->key, key)) {
      *link = n->next;
      std::free(n);
      return 1;
    }
  }
  return 0;
}

void HashDestroy(HashTable* table) {
  if (table == nullptr) return;
  for (int b = 0; b < table->nBuckets; ++b) {
    HashNode* n = table->buckets[b];
    while (n != nullptr) {
      HashNode* next = n->next;
      std::free(n);
      n = next;
    }
  }
  std::free(table->buckets);
  std::free(table);
}
