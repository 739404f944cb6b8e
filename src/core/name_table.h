// A fixed-size chained hash table from NUL-terminated names to owned objects, the dictionary inside every
// archive. It never rehashes. It owns its copy of every name and every value whose node is not borrowed,
// and destroys them on Remove and in its destructor. Nodes come from the process-wide pool, so a pool
// must exist whenever a node is inserted or released.
// Walk order, the order of every archive's records and streams: bucket 0 upward, and inside a bucket
// from the head, newest first.
#ifndef TOVREL_CORE_NAME_TABLE_H_
#define TOVREL_CORE_NAME_TABLE_H_

#include <cstdint>

namespace tovrel {

// The type of the values a NameTable holds; the table destroys them through this destructor.
class EntryBase {
 public:
  virtual ~EntryBase() = default;
};

struct NameNode {
  char* name;        // the table's own copy, from new[]
  EntryBase* value;  // may be null
  NameNode* next;    // next node of the same bucket, or null
  bool borrowed;     // when true the table never destroys value; Insert stores false
};

// Hashes `name` byte by byte, each byte sign-extended as a signed 8-bit value, the first byte counted
// twice: h = s(b0); then h = 3h + s(b) for every byte. Arithmetic wraps modulo 2^32. "" hashes to 0.
std::uint32_t HashName(const char* name);

class NameTable {
 public:
  // Builds `bucketCount` empty buckets. Requires: bucketCount >= 1.
  explicit NameTable(std::uint32_t bucketCount);
  // Destroys every node, name copy and owned value, bucket by bucket, newest first.
  ~NameTable();

  NameTable(const NameTable&) = delete;
  NameTable& operator=(const NameTable&) = delete;

  // Returns the newest node whose name equals `name` byte for byte, or null.
  NameNode* Find(const char* name) const;

  // Adds a node for `name` and `value` at the head of its bucket and returns it. Returns null, with the
  // table unchanged and `value` still the caller's, when the pool yields no memory.
  NameNode* Insert(const char* name, EntryBase* value);

  // Unlinks and destroys the newest node named `name`, with its value unless borrowed. An absent name
  // changes nothing.
  void Remove(const char* name);

  std::uint32_t BucketCount() const { return bucketCount_; }
  NameNode* Head(std::uint32_t bucket) const { return buckets_[bucket]; }

  // Calls `visit(node)` for every node in walk order. The next node is read before the call, so `visit`
  // may remove the node it is given.
  template <typename Visitor>
  void Walk(Visitor visit) const {
    for (std::uint32_t b = 0; b < bucketCount_; ++b) {
      NameNode* node = buckets_[b];
      while (node != nullptr) {
        NameNode* next = node->next;
        visit(node);
        node = next;
      }
    }
  }

 private:
  std::uint32_t BucketOf(const char* name) const { return HashName(name) % bucketCount_; }
  static void DestroyNode(NameNode* node);

  NameNode** buckets_;
  std::uint32_t bucketCount_;
};

}  // namespace tovrel

#endif  // TOVREL_CORE_NAME_TABLE_H_
