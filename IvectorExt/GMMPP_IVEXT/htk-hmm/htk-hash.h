// Chained name tables of the HTK reader: keys are the records' own names,
// nodes are pushed at the head of their bucket's chain.
#pragma once

typedef int (*HashFunc)(const char* key);
typedef int (*HashEqualFunc)(const char* a, const char* b);

struct HashNode {
  const char* key;  // the record's own name, not owned by the table
  void* value;
  HashNode* next;
};

struct HashTable {
  int nBuckets;
  HashNode** buckets;
  HashFunc hash;
  HashEqualFunc equal;
};

// Absolute value of the sum of the name's bytes taken as signed chars.
int HashName(const char* key);
// 1 when both names are byte-wise equal.
int HashNameEqual(const char* a, const char* b);

// Null for nBuckets < 1 or when memory runs out.
HashTable* HashCreate(int nBuckets, HashFunc hash, HashEqualFunc equal);
void* HashFind(const HashTable* table, const char* key);
// 1 inserted, 0 key already present (nothing inserted), -1 out of memory.
int HashInsert(HashTable* table, const char* key, void* value);
// 1 when a node was removed, else 0.
int HashDelete(HashTable* table, const char* key);
void HashDestroy(HashTable* table);
