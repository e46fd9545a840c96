// The state file on disk: read once at start, appended to for every change, rewritten in one piece
// (a new file renamed over the old one) when the journal has grown well past the live state.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "state_records.h"

namespace orvu::agent {

// Takes one record; false, with *error set, stops the reading.
using StateRecordSink = std::function<bool(StateRecord&& record, std::string* error)>;
// Hands every record of the state, in order, to the function it is given.
using StateRecordSource = std::function<void(const std::function<void(const StateRecord&)>&)>;

// Hands the records of PATH to TAKE in file order, one line at a time. A missing file is an empty
// state (*existed false). False with *error ("PATH:LINE: cause") when the file cannot be read or a
// line does not parse, or with TAKE's error.
bool ReadStateFile(const std::string& path, const StateRecordSink& take, bool* existed,
                   std::string* error);

class StateJournal {
 public:
  StateJournal() = default;
  StateJournal(const StateJournal&) = delete;
  StateJournal& operator=(const StateJournal&) = delete;
  ~StateJournal();

  // Takes the lock that keeps a second agent off the same file (PATH.lock).
  bool Lock(const std::string& path, bool syncEachChange, std::string* error);
  // Writes the records RECORDS gives as the whole new file and opens it for appending.
  bool Rewrite(const StateRecordSource& records, std::string* error);
  // One record, whole or not at all, handed to the OS before this returns.
  bool Append(const StateRecord& record, std::string* error);
  size_t AppendedSinceRewrite() const { return appended_; }
  // Bytes appended since the last rewrite, and the bytes that rewrite wrote.
  size_t AppendedBytesSinceRewrite() const { return fileSize_ - rewriteSize_; }
  size_t BytesAtRewrite() const { return rewriteSize_; }

 private:
  std::string path_;
  bool sync_ = false;
  int lockFd_ = -1;
  int fd_ = -1;
  size_t appended_ = 0;
  size_t fileSize_ = 0;  // bytes in the file: what a failed append is cut back to
  size_t rewriteSize_ = 0;
};

}  // namespace orvu::agent
