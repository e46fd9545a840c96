// The state file on disk: read once at start, appended to for every change, rewritten in one piece
// (a new file renamed over the old one) when the journal has grown well past the live state.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "agent/journal/state_records.h"

namespace orvu::agent {

// Takes one record; false, with *error set, stops the reading.
using StateRecordSink = std::function<bool(StateRecord&& record, std::string* error)>;
// Hands every record of the state, in order, to the function it is given.
using StateRecordSource = std::function<void(const std::function<void(const StateRecord&)>&)>;

// What reading a state file found besides its records.
struct StateFileFound {
  bool existed = false;
  size_t bytes = 0;
  bool sealed = false;  // written by the agent: every line checked
  size_t tornLine = 0;  // a final line cut short, left out (it was never acknowledged)
  // NUL bytes at the end, after the last whole record, left out: the file's size reached the
  // disk before the bytes written there did, as a power cut leaves it.
  size_t nulTail = 0;
  bool chained = false;  // under the header whose seals form a chain
  // Exactly what a rewrite left: a chained snapshot with nothing appended, torn or cut.
  bool snapshot = false;
  uint32_t lastSeal = 0;  // the seal the next append chains onto, when snapshot
};

// Hands the records of PATH to TAKE in file order, one line at a time, each with its line number.
// A missing file is an empty state. False with *error ("PATH:LINE: cause") when the file cannot be
// read, a line does not parse or a sealed line is damaged, or with TAKE's error; the file is not
// touched.
bool ReadStateFile(const std::string& path, const StateRecordSink& take, StateFileFound* found,
                   std::string* error);

// The module records of PATH, found by each line's first word, to TAKE with their line numbers;
// nothing else is read or checked, which ReadStateFile does. A line a write cut short, at the
// end of a file the agent wrote, is left to ReadStateFile to judge. False with *error
// ("PATH:LINE: cause") when the file cannot be read or a module record does not parse.
bool ReadStateModules(const std::string& path,
                      const std::function<void(std::string name, size_t line)>& take,
                      std::string* error);

class StateJournal {
 public:
  StateJournal() = default;
  StateJournal(const StateJournal&) = delete;
  StateJournal& operator=(const StateJournal&) = delete;
  ~StateJournal();

  // Opens PATH (made when missing; never through a symbolic link, never another user's file) and
  // locks the file itself, so that no second agent takes it by any other path.
  bool Lock(const std::string& path, bool syncEachChange, std::string* error);
  // Keeps the file as it is now under PATH.old, before a rewrite changes what it says; when an
  // earlier start kept one there (the file as first found), under the first free PATH.old.N from
  // 2 on. *KEPT names the copy.
  bool KeepCopy(std::string* kept, std::string* error);
  // Writes the records RECORDS gives as the whole new file, takes the lock over to it and opens it
  // for appending.
  bool Rewrite(const StateRecordSource& records, std::string* error);
  // The same rewrite a part at a time, so that the agent can serve between the parts: Begin makes
  // the new file, Add takes the records in order, Finish puts the file in place of the old one
  // (false, with *error, when any step failed; the old file stays). Until Finish the old file is
  // the state file, untouched, and nothing may be appended. Abandon, or the journal's end, drops
  // the new file.
  bool BeginRewrite(std::string* error);
  void AddToRewrite(const StateRecord& record);
  bool FinishRewrite(std::string* error);
  void AbandonRewrite();
  bool Rewriting() const { return rewrite_.fd >= 0; }
  // Takes the locked file, read as FOUND, as the last rewrite instead of writing it again: only
  // when it is exactly a snapshot, still as it was read, private to this user, under no other
  // name, and with room on its file system to be rewritten. False (nothing changed) when a
  // rewrite is needed.
  bool Adopt(const StateFileFound& found);
  // While a rewrite begun after a start is under way, appends go to the locked file as read
  // (FOUND), and again after the new file's snapshot when it is put in place: a whole chained
  // file, or one written by hand (whose kept copy, the same file, is cut back to what was found
  // once the new file is in place). False when it cannot be so (a file whose end was left out,
  // or under an earlier agent's header): a change then has to finish the rewrite first.
  bool AppendWhileRewriting(const StateFileFound& found);
  bool AppendsWhileRewriting() const { return appendWhileRewriting_; }
  // Whether the path still names the file the agent holds; false with *error saying what
  // happened to it otherwise. The agent never writes over a file that took its place.
  bool StillHeld(std::string* error) const;
  // False, with the reason of the last failure, when the last rewrite failed for want of room and
  // no more room has come since (free space and the file-size limit): trying again would only
  // write the whole state to fail at the same place.
  bool RoomToRewrite(std::string* error) const;
  // One record, whole or not at all, handed to the OS before this returns; refused when the file
  // is no longer the one at the path (moved or removed under the agent). A write or sync that
  // fails is cut back off the file, so that a refused change never counts at the next start;
  // when even that fails, every later change is refused until the cut succeeds (the clean stop
  // tries it once more).
  bool Append(const StateRecord& record, std::string* error);
  // RECORDS as one change in one append: a group (more than one) counts whole or not at all.
  bool Append(const std::vector<StateRecord>& records, std::string* error);
  // Where a cut that failed is noted (outside the state file's file system, beside the socket):
  // a file system that went read-only under a refused change can still write that change out
  // later, and the next start must not count it.
  void NoteFailedCutsAt(const std::string& notePath) { cutNote_ = notePath; }
  // Makes the cut that an agent before this one noted, when the file still ends in (a part of)
  // what it refused; *said, when not empty, tells what was done. After Lock, before the file is
  // read; false with *error when the cut is due and fails.
  bool MakeNotedCut(std::string* said, std::string* error);
  // The last rewrite failed for want of room (a full disk or quota, a file-size limit).
  bool RewriteLackedRoom() const;
  // Records appended since the last rewrite.
  size_t AppendedSinceRewrite() const { return appended_; }
  // Bytes appended since the last rewrite, and the bytes that rewrite wrote.
  size_t AppendedBytesSinceRewrite() const { return fileSize_ - rewriteSize_; }
  size_t BytesAtRewrite() const { return rewriteSize_; }

 private:
  // Cuts the file back to fileSize_ (durably with --fsync); false with *why.
  bool CutBack(std::string* why);
  // Writes down the cut that CutBack could not make, for the next start.
  void NoteFailedCut();
  // Hands the gathered block of the rewrite to its file.
  void FlushRewrite();
  // Keeps RECORDS, appended to the old file while the rewrite is under way, for the new file.
  void KeepForRewrite(const std::vector<StateRecord>& records);
  // Whether the rewrite's new file is still the one at PATH.new.
  bool NewFileHeld() const;
  // Makes the last rename or link in the state file's folder durable (with --fsync); false with
  // errno set when the folder's sync fails.
  bool SyncFolder(const std::string& path) const;
  // Forgets the rewrite's file and lets go of its block.
  void DropNewFile();

  // The new file of a rewrite under way.
  struct NewFile {
    int fd = -1;
    std::string path;
    std::string block;  // formatted, not yet written
    size_t bytes = 0;   // handed to the file
    size_t records = 0;
    size_t countAt = 0;  // where the header's count goes
    uint32_t chain = 0;
    int writeError = 0;  // kept apart: the records formatted after a failed write may touch errno
    // Changes appended to the old file while this one is written, each line without its seal:
    // they follow the snapshot in the new file.
    std::vector<std::string> later;
    size_t laterRecords = 0;
  };

  std::string path_;
  bool sync_ = false;
  int fd_ = -1;                           // the locked file at path_, appended to after a rewrite
  unsigned long device_ = 0, inode_ = 0;  // of fd_, to tell whether it is still at path_
  size_t appended_ = 0;
  size_t fileSize_ = 0;  // bytes in the file: what a failed append is cut back to
  size_t rewriteSize_ = 0;
  uint32_t chain_ = 0;       // the seal of the last record in the file
  bool cutPending_ = false;  // a refused change is still in the file past fileSize_
  int rewriteFailure_ = 0;   // errno of the last failed rewrite
  std::string cutNote_;      // where a failed cut is noted; empty: nowhere
  std::string refused_;      // the text of the change that waits to be cut off
  bool noted_ = false;       // cutNote_ holds the cut that waits
  bool created_ = false;     // Lock made the file, and no rewrite has filled it yet
  bool appendable_ = false;  // the file is known as far as fileSize_ and chain_: Adopt, a rewrite
  bool appendWhileRewriting_ = false;
  bool lineEndFirst_ = false;  // the file as read ends without a line end: the first append adds it
  size_t keptBytes_ = 0;       // the size to cut the file as read back to once it is replaced
  bool folderUnsynced_ = false;  // a rename in the folder is not known to be on the disk yet
  size_t rewriteFailedAt_ = 0;   // the bytes the last rewrite that lacked room had written
  NewFile rewrite_;
};

}  // namespace orvu::agent
