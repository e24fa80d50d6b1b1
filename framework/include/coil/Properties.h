// coil::Properties: the framework's key/value configuration tree.
#ifndef COIL_PROPERTIES_H
#define COIL_PROPERTIES_H

#include <climits>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace coil {

// An ordered map of dot-separated keys ("exec_cxt.periodic.rate") to string
// values. Insertion order is kept: profiles and configuration sets are shown
// to tools in the order they were declared.
class Properties {
 public:
  Properties();
  // Reads alternating keys and values from `defaults` until an empty key or
  // `num` entries (pairs * 2), whichever comes first.
  Properties(const char* defaults[], long num = LONG_MAX);

  // Returns the value of `key`, or "" when absent.
  const std::string& getProperty(const std::string& key) const;
  // Returns the value of `key`, or `def` when absent.
  const std::string& getProperty(const std::string& key, const std::string& def) const;
  // Sets `key` to `value`; returns the previous value ("" when new).
  std::string setProperty(const std::string& key, const std::string& value);
  // Returns a reference to the value of `key`, creating it empty when absent.
  std::string& operator[](const std::string& key);
  // Returns whether `key` has been set.
  bool hasKey(const std::string& key) const;
  // Removes `key`; returns whether it was there.
  bool removeProperty(const std::string& key);
  // Returns every key, in insertion order.
  std::vector<std::string> propertyNames() const;
  // Returns the number of keys.
  size_t size() const;
  bool empty() const;

  // Returns the keys below `prefix` ("conf.default" gives "flip_h" for
  // "conf.default.flip_h"), in insertion order, with their values.
  Properties getNode(const std::string& prefix) const;
  // Returns the distinct first segments of the keys below `prefix`, in order
  // ("conf" gives "default", "__widget__").
  std::vector<std::string> childNames(const std::string& prefix) const;

  // Copies every key of `other` into this one, overwriting existing values.
  Properties& operator<<(const Properties& other);

  // Reads the framework's properties text format (key: value or key = value,
  // # and ! comments, trailing backslash continues a line). Lines that are
  // neither are skipped and described in `problems` when given.
  void load(std::istream& in);
  void load(std::istream& in, std::vector<std::string>* problems);
  // Writes "key: value" lines that load() reads back to the same entries,
  // but for a value ending in an odd run of backslashes: the format has no
  // escapes, and such a line continues onto the next.
  void store(std::ostream& out) const;

  const std::vector<std::pair<std::string, std::string> >& entries() const { return m_entries; }

 private:
  std::vector<std::pair<std::string, std::string> > m_entries;
};

}  // namespace coil

#endif
