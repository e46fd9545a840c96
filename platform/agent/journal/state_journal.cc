#include "agent/journal/state_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "agent/journal/state_integrity.h"
#include "common/faults.h"
#include "protocol/transport.h"

namespace orvu::agent {
namespace {

// Bounds what a note of a failed cut may hold: a change is at most the agent's request budget.
constexpr size_t STATE_CUT_NOTE_LIMIT = 64u << 20;

// Tests inject a failed write of the state file as OPERATION=BYTES/ERRNO (common/faults.h): BYTES
// of DATA reach the file, then the write fails with ERRNO (EIO when none is given), as a full disk
// or a failing device would leave it.
bool WriteWhole(int fd, const std::string& data, const char* operation = nullptr) {
  const char* p = data.data();
  size_t left = data.size();
  InjectedFault fault;
  if (operation && CheckFault(operation, &fault)) {
    size_t part = std::min(left, static_cast<size_t>(std::max<int64_t>(fault.result, 0)));
    bool wrote = part == 0 || write(fd, p, part) == static_cast<ssize_t>(part);
    errno = !wrote ? errno : fault.hasCode ? fault.code : EIO;
    return false;
  }
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// Bytes read from the state file at a time.
constexpr size_t STATE_READ_BLOCK = 256 * 1024;
// Bytes gathered before a rewrite hands them to the file.
constexpr size_t STATE_WRITE_BLOCK = 256 * 1024;
// The header's record count is written as this many digits, then filled in once it is known.
constexpr int STATE_COUNT_DIGITS = 12;

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes room for a file of our own at PATH: a leftover of ours goes; anything planted there (a
// symbolic link, another user's file) is refused, never followed or removed.
bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string At(const std::string& path, size_t line) { return path + ":" + std::to_string(line); }

// Holds back the records of a group until the last of them is read, so that a group counts
// whole or not at all.
class GroupGathering {
 public:
  // Hands RECORD on (or keeps it for its group); false with *cause (a fault of the file) or with
  // TAKE's *error.
  bool Take(StateRecord&& record, const StateRecordSink& take, std::string* cause,
            std::string* error) {
    cause->clear();
    if (record.type == RecordType::Group) {
      if (left_ > 0) {
        *cause = "a group inside a group";
        return false;
      }
      left_ = record.groupSize;
      start_ = record.line;
      held_.clear();
      return true;
    }
    if (left_ == 0) return take(std::move(record), error);
    held_.push_back(std::move(record));
    if (--left_ > 0) return true;
    for (StateRecord& held : held_) {
      if (!take(std::move(held), error)) return false;
    }
    held_.clear();
    return true;
  }
  bool Open() const { return left_ > 0; }
  size_t StartLine() const { return start_; }

 private:
  uint32_t left_ = 0;
  size_t start_ = 0;
  std::vector<StateRecord> held_;
};

// Whether LINE's first word is "module".
bool NamesModule(std::string_view line) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  size_t start = 0;
  while (start < line.size() && blank(line[start])) ++start;
  std::string_view word = line.substr(start);
  return word.substr(0, 6) == "module" && (word.size() == 6 || blank(word[6]));
}

// The NUL bytes that the SIZE bytes of FD end in, read from the end backwards.
size_t NulTail(int fd, size_t size) {
  std::string block(64 * 1024, '\0');
  size_t tail = 0;
  while (tail < size) {
    size_t n = std::min(block.size(), size - tail);
    if (pread(fd, block.data(), n, static_cast<off_t>(size - tail - n)) != static_cast<ssize_t>(n))
      return 0;  // the read that follows says what is wrong
    size_t kept = n;
    while (kept > 0 && block[kept - 1] == '\0') --kept;
    tail += n - kept;
    if (kept > 0) break;
  }
  return tail;
}

// Opens PATH and hands each of its lines to TAKE(text, number, ended): the line without its line
// end, its number from 1, and whether its line end was there. The file is read a block at a time
// and never held whole. A missing file has no lines (*existed false). False with *error when the
// file cannot be read, or when TAKE returns false (having set *error); *bytes counts what was read.
// *sawNul, when given, turns true once a NUL byte was read, before the line holding it is handed
// on.
// *nulTail, when given, gets the NUL bytes the file ends in, which are not read as lines.
template <typename Take>
bool ForEachLine(const std::string& path, bool* existed, size_t* bytes, size_t* lines, Take take,
                 std::string* error, bool* sawNul = nullptr, size_t* nulTail = nullptr) {
  *existed = false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    *error = "cannot read state file " + path + ": " + std::strerror(errno);
    return false;
  }
  *existed = true;
  size_t limit = SIZE_MAX;
  struct stat st;
  if (nulTail && fstat(fd, &st) == 0) {
    *nulTail = NulTail(fd, static_cast<size_t>(st.st_size));
    limit = static_cast<size_t>(st.st_size) - *nulTail;
  }
  // Lines are handed on where they were read; only the part of a line that a read cut off is
  // moved, to the front of the buffer, and a line longer than the buffer doubles it.
  std::string buffer(STATE_READ_BLOCK, '\0');
  size_t have = 0;
  size_t line = 0;
  bool atEnd = false, ok = true;
  while (ok && !atEnd) {
    if (have == buffer.size()) buffer.resize(2 * buffer.size());
    ssize_t n = *bytes >= limit ? 0
                                : read(fd, buffer.data() + have,
                                       std::min(buffer.size() - have, limit - *bytes));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = "cannot read state file " + path + ": " + std::strerror(errno);
      ok = false;
      break;
    }
    atEnd = n == 0;
    if (sawNul && !*sawNul && std::memchr(buffer.data() + have, '\0', static_cast<size_t>(n)))
      *sawNul = true;
    *bytes += static_cast<size_t>(n);
    have += static_cast<size_t>(n);
    const char* data = buffer.data();
    size_t start = 0;
    while (ok && start < have) {
      const void* found = std::memchr(data + start, '\n', have - start);
      bool ended = found != nullptr;
      if (!ended && !atEnd) break;
      size_t end = ended ? static_cast<size_t>(static_cast<const char*>(found) - data) : have;
      ++line;
      std::string_view text(data + start, end - start);
      start = end + 1;
      ok = take(text, line, ended);
    }
    start = std::min(start, have);
    std::memmove(buffer.data(), data + start, have - start);
    have -= start;
  }
  close(fd);
  *lines = line;
  return ok;
}

}  // namespace

bool ReadStateModules(const std::string& path,
                      const std::function<void(std::string name, size_t line)>& take,
                      std::string* error) {
  bool existed = false, written = false;
  size_t bytes = 0, lines = 0;
  auto moduleLine = [&](std::string_view text, size_t line, bool ended) {
    if (line == 1) written = ended && IsStateHeader(std::string(text));
    if ((!ended && written) || !NamesModule(text)) return true;
    StateRecord record;
    std::string cause;
    if (!ParseStateLine(WithoutSeal(std::string(text)), &record, &cause)) {
      *error = At(path, line) + ": " + (cause.empty() ? "no record" : cause);
      return false;
    }
    take(std::move(record.moduleName), line);
    return true;
  };
  return ForEachLine(path, &existed, &bytes, &lines, moduleLine, error);
}

bool ReadStateFile(const std::string& path, const StateRecordSink& take, StateFileFound* found,
                   std::string* error) {
  *found = StateFileFound{};
  // Each record is handed on as its line is whole: the file is never held whole, nor are its
  // records.
  StateFileCheck check;
  GroupGathering group;
  // Kept from line to line, so that their room is made once.
  std::string cause;
  std::string_view body;
  StateRecord record;
  // Lines are searched for a NUL only once one was read: a text file has none.
  bool sawNul = false;
  auto recordLine = [&](std::string_view text, size_t line, bool ended) {
    cause.clear();
    if (sawNul && text.find('\0') != std::string_view::npos) {
      *error = At(path, line) + ": not a text line";
      return false;
    }
    switch (check.Line(text, ended, &body, &cause)) {
      case StateFileCheck::Verdict::Damaged: *error = At(path, line) + ": " + cause; return false;
      case StateFileCheck::Verdict::Skip: return true;
      case StateFileCheck::Verdict::Record: break;
    }
    if (!ParseStateLine(body, &record, &cause)) {
      *error = At(path, line) + ": " + (cause.empty() ? "no record" : cause);
      return false;
    }
    record.line = line;
    bool ok = group.Take(std::move(record), take, &cause, error);
    if (!ok && !cause.empty()) *error = At(path, line) + ": " + cause;
    return ok;
  };
  size_t lines = 0;
  if (!ForEachLine(path, &found->existed, &found->bytes, &lines, recordLine, error, &sawNul,
                   &found->nulTail))
    return false;
  if (!found->existed) return true;
  if (!check.Finish(&cause)) {
    *error = At(path, lines) + ": " + cause;
    return false;
  }
  found->sealed = check.Sealed();
  if (check.DroppedTornLine()) found->tornLine = lines;
  // A group that the file ends inside was cut short as a whole: none of it was acknowledged.
  if (group.Open()) found->tornLine = group.StartLine();
  found->snapshot = check.WholeSnapshot() && !found->tornLine && !found->nulTail;
  found->chained = check.Chained();
  found->lastSeal = check.LastSeal();
  return true;
}

StateJournal::~StateJournal() {
  AbandonRewrite();
  std::string ignored;
  if (fd_ >= 0 && cutPending_) CutBack(&ignored);
  // A start that failed before its first rewrite leaves no empty state file of its own making.
  struct stat held, named;
  if (fd_ >= 0 && created_ && fstat(fd_, &held) == 0 && held.st_size == 0 &&
      lstat(path_.c_str(), &named) == 0 && SameFile(held, named)) {
    unlink(path_.c_str());
  }
  if (fd_ >= 0) close(fd_);
}

bool StateJournal::Lock(const std::string& path, bool syncEachChange, std::string* error) {
  path_ = path;
  sync_ = syncEachChange;
  struct stat before;
  bool existed = lstat(path.c_str(), &before) == 0;
  // The lock goes with the file, not with its name: a rewrite renames a new file over the path,
  // so whoever locked the old one looks again until the file it holds is the one at the path.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string why;
    int fd = transport::OpenOwnFile(path, 0600, &why);
    if (fd < 0) {
      *error = "cannot read state file " + path + ": " + why;
      return false;
    }
    struct stat held, named;
    fstat(fd, &held);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      *error = "state file " + path + " is in use by another agent";
      close(fd);
      return false;
    }
    if (lstat(path.c_str(), &named) == 0 && SameFile(held, named)) {
      fd_ = fd;
      device_ = held.st_dev;
      inode_ = held.st_ino;
      created_ = !existed;
      return true;
    }
    close(fd);
  }
  *error = "state file " + path + " keeps changing under the agent";
  return false;
}

bool StateJournal::KeepCopy(std::string* kept, std::string* error) {
  // The first copy is the file as it was first found (often the one written by hand): a later
  // one never takes its place, nor that of any file already there, whoever's it is.
  constexpr int STATE_KEPT_COPIES = 1000;
  std::string leftAlone;
  for (int n = 1; n <= STATE_KEPT_COPIES; ++n) {
    std::string copy = path_ + ".old" + (n == 1 ? std::string() : "." + std::to_string(n));
    // A second name for the same file: the rewrite renames a new file over the path, and this
    // one stays as it was.
    if (link(path_.c_str(), copy.c_str()) != 0) {
      if (errno != EEXIST) {
        *error = "cannot keep a copy of " + path_ + " as " + copy + ": " + std::strerror(errno);
        return false;
      }
      // A copy of an earlier start is passed over silently; what another user or a link holds
      // in a shared folder is said, as every file the agent writes beside one does.
      struct stat there;
      if (leftAlone.empty() && lstat(copy.c_str(), &there) == 0 &&
          (!S_ISREG(there.st_mode) || there.st_uid != geteuid()))
        leftAlone = copy + ": it exists and is not a file of this user" +
                    (S_ISLNK(there.st_mode) ? " (a symbolic link)" : "");
      continue;
    }
    if (!SyncFolder(copy)) {
      *error = "cannot keep a copy of " + path_ + " as " + copy +
               ": its folder: " + std::strerror(errno);
      return false;
    }
    if (!leftAlone.empty())
      std::fprintf(stderr, "orvu-agentd: left alone %s; wrote %s instead\n", leftAlone.c_str(),
                   copy.c_str());
    *kept = copy;
    return true;
  }
  *error = "cannot keep a copy of " + path_ + ": " + path_ + ".old and " +
           std::to_string(STATE_KEPT_COPIES - 1) + " numbered ones are all taken";
  return false;
}

bool StateJournal::SyncFolder(const std::string& path) const {
  if (!sync_) return true;
  int dir = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  InjectedFault fault;
  bool synced = !CheckFault("StateFolderSync", &fault) && fsync(dir) == 0;
  if (!synced && fault.hasCode) errno = fault.code;
  int saved = errno;
  close(dir);
  errno = saved;
  return synced;
}

bool StateJournal::StillHeld(std::string* error) const {
  struct stat named;
  if (lstat(path_.c_str(), &named) != 0) {
    *error = "state file " + path_ + " was moved or removed while the agent ran";
    return false;
  }
  if (named.st_dev != device_ || named.st_ino != inode_) {
    *error = "state file " + path_ +
             " was replaced by another file while the agent ran; the agent leaves that file "
             "alone";
    return false;
  }
  return true;
}

bool StateJournal::NewFileHeld() const {
  struct stat held, named;
  return fstat(rewrite_.fd, &held) == 0 && lstat(rewrite_.path.c_str(), &named) == 0 &&
         SameFile(held, named);
}

bool StateJournal::RoomToRewrite(std::string* error) const {
  if (!RewriteLackedRoom()) return true;
  struct statvfs fs;
  unsigned long long room = ULLONG_MAX;
  if (fstatvfs(fd_, &fs) == 0) room = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    room = std::min<unsigned long long>(room, limit.rlim_cur);
  if (room > rewriteFailedAt_) return true;
  *error = "cannot write state file " + path_ + ": " + std::strerror(rewriteFailure_);
  return false;
}

bool StateJournal::Rewrite(const StateRecordSource& records, std::string* error) {
  if (!RoomToRewrite(error) || !BeginRewrite(error)) return false;
  records([this](const StateRecord& record) { AddToRewrite(record); });
  return FinishRewrite(error);
}

bool StateJournal::BeginRewrite(std::string* error) {
  AbandonRewrite();
  if (fd_ >= 0 && !StillHeld(error)) return false;
  std::string temp;
  int fd = -1;
  auto make = [&fd](const std::string& name) {
    fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    return fd >= 0;
  };
  if (!transport::TakeOwnName(path_ + ".new", make, &temp, error)) {
    rewriteFailure_ = errno;
    return false;
  }
  // The records are written out in blocks as they come: the whole new file is never in memory.
  // The header's count is known only at the end and is written into its place then.
  rewrite_.fd = fd;
  rewrite_.path = temp;
  std::string header = StateHeader(0);
  rewrite_.countAt = header.rfind('0');
  header.insert(rewrite_.countAt, STATE_COUNT_DIGITS - 1, '0');
  rewrite_.block = header + "\n";
  return true;
}

void StateJournal::DropNewFile() {
  // Swapped out rather than assigned: a string assigned an empty one keeps its room, and the
  // block's is a quarter of a megabyte and more.
  NewFile done;
  std::swap(rewrite_, done);
}

void StateJournal::FlushRewrite() {
  if (!rewrite_.writeError && !WriteWhole(rewrite_.fd, rewrite_.block, "StateRewrite"))
    rewrite_.writeError = errno ? errno : EIO;
  rewrite_.bytes += rewrite_.block.size();
  rewrite_.block.clear();
}

void StateJournal::AddToRewrite(const StateRecord& record) {
  if (rewrite_.fd < 0 || rewrite_.writeError) return;
  std::string& block = rewrite_.block;
  size_t start = block.size();
  AppendStateRecord(&block, record);
  SealTailInChain(&block, start, &rewrite_.chain);
  block += '\n';
  ++rewrite_.records;
  if (block.size() >= STATE_WRITE_BLOCK) FlushRewrite();
}

void StateJournal::AbandonRewrite() {
  appendWhileRewriting_ = false;
  if (rewrite_.fd < 0) return;
  // A file that took the new file's place is someone else's, and stays.
  if (NewFileHeld()) unlink(rewrite_.path.c_str());
  close(rewrite_.fd);
  DropNewFile();
}

bool StateJournal::FinishRewrite(std::string* error) {
  if (rewrite_.fd < 0) {
    *error = "no rewrite of " + path_ + " is under way";
    return false;
  }
  FlushRewrite();
  size_t snapshotBytes = rewrite_.bytes;
  // The changes appended to the old file meanwhile follow the snapshot, in the new file's chain.
  for (const std::string& line : rewrite_.later) {
    rewrite_.block += SealLineInChain(line, &rewrite_.chain);
    rewrite_.block += '\n';
  }
  if (!rewrite_.block.empty()) FlushRewrite();
  int fd = rewrite_.fd;
  // Renamed by its name, so the name must still be this file's, and the state file's name the
  // file this replaces: a file that took either place belongs to someone else.
  std::string lost;
  if (fd_ >= 0 && !StillHeld(&lost)) {
    AbandonRewrite();
    *error = lost;
    return false;
  }
  if (!NewFileHeld()) {
    *error = "cannot write state file " + path_ + ": " + rewrite_.path +
             " was replaced by another file while the agent wrote it; the agent leaves that "
             "file alone";
    AbandonRewrite();
    return false;
  }
  std::string digits = std::to_string(rewrite_.records);
  digits.insert(0, STATE_COUNT_DIGITS - digits.size(), '0');
  // The new file reaches the disk before it replaces the old one, so that a crash leaves one of
  // the two whole, never an empty file under the state file's name. It is locked before it is
  // named, so the lock never leaves the file at the path.
  bool ok = !rewrite_.writeError &&
            pwrite(fd, digits.data(), digits.size(), static_cast<off_t>(rewrite_.countAt)) ==
                static_cast<ssize_t>(digits.size()) &&
            fsync(fd) == 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            fcntl(fd, F_SETFL, O_APPEND) == 0;
  int saved = rewrite_.writeError ? rewrite_.writeError : errno;
  if (!ok || rename(rewrite_.path.c_str(), path_.c_str()) != 0) {
    if (ok) saved = errno;
    rewriteFailure_ = saved;
    rewriteFailedAt_ = rewrite_.bytes;
    AbandonRewrite();
    *error = "cannot write state file " + path_ + ": " + std::strerror(saved);
    return false;
  }
  rewriteFailure_ = 0;
  // The new file is in place; until its name is on the disk too, every change first tries again
  // to make it so, and is refused while that fails.
  folderUnsynced_ = !SyncFolder(path_);
  struct stat st;
  fstat(fd, &st);
  // Best effort: should the cut fail, the kept copy holds what was found and, after it, the
  // changes made during the rewrite, which the new file holds too.
  if (fd_ >= 0 && keptBytes_ > 0 && fileSize_ > keptBytes_ &&
      ftruncate(fd_, static_cast<off_t>(keptBytes_)) == 0 && sync_)
    fdatasync(fd_);
  keptBytes_ = 0;
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  created_ = false;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  appendable_ = true;
  appended_ = rewrite_.laterRecords;
  fileSize_ = rewrite_.bytes;
  rewriteSize_ = snapshotBytes;
  chain_ = rewrite_.chain;
  appendWhileRewriting_ = false;
  DropNewFile();
  return true;
}

bool StateJournal::Adopt(const StateFileFound& found) {
  struct stat st;
  struct statvfs fs;
  // Another name for the file would take every append too; a file others may read would stay
  // readable, where a rewrite makes it private. Without room for a rewrite, the start goes the
  // way of a rewrite that found none: it serves, and changes wait until the file can be
  // compacted again.
  if (fd_ < 0 || !found.existed || !found.snapshot || fstat(fd_, &st) != 0 ||
      static_cast<size_t>(st.st_size) != found.bytes || st.st_nlink != 1 ||
      (st.st_mode & 077) != 0 || fstatvfs(fd_, &fs) != 0 ||
      static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize < found.bytes ||
      fcntl(fd_, F_SETFL, O_APPEND) != 0) {
    return false;
  }
  created_ = false;
  appendable_ = true;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  appended_ = 0;
  fileSize_ = found.bytes;
  rewriteSize_ = found.bytes;
  chain_ = found.lastSeal;
  return true;
}

bool StateJournal::AppendWhileRewriting(const StateFileFound& found) {
  // A file written by hand (every line chains onto the last seal read, if any) takes appends as
  // well as a chained one; one under an earlier agent's header takes only its own seals, and one
  // whose end was left out would glue the next line to what was left.
  struct stat st;
  if (!Rewriting() || fd_ < 0 || !found.existed || (found.sealed && !found.chained) ||
      found.tornLine || found.nulTail || fstat(fd_, &st) != 0 ||
      static_cast<size_t>(st.st_size) != found.bytes || st.st_nlink > (found.sealed ? 1 : 2) ||
      fcntl(fd_, F_SETFL, O_APPEND) != 0) {
    return false;
  }
  char last = '\n';
  if (found.bytes > 0 && pread(fd_, &last, 1, static_cast<off_t>(found.bytes - 1)) != 1)
    return false;
  lineEndFirst_ = last != '\n';
  // The copy kept of a file written by hand is this very file: it is cut back to what was found
  // once the new file is in place.
  keptBytes_ = st.st_nlink > 1 ? found.bytes : 0;
  appendWhileRewriting_ = true;
  appendable_ = true;
  fileSize_ = found.bytes;
  rewriteSize_ = found.bytes;
  chain_ = found.lastSeal;
  return true;
}

bool StateJournal::Append(const StateRecord& record, std::string* error) {
  return Append(std::vector<StateRecord>{record}, error);
}

bool StateJournal::Append(const std::vector<StateRecord>& records, std::string* error) {
  if (fd_ < 0 || !appendable_ || (Rewriting() && !appendWhileRewriting_)) {
    *error = "state file " + path_ +
             (fd_ < 0        ? " is not open"
              : !appendable_ ? " is not rewritten yet"
                             : " is being rewritten");
    return false;
  }
  // One look at the path per change besides the write: a file moved, removed or replaced under
  // the agent would take acknowledged changes that the next start never reads.
  if (!StillHeld(error)) return false;
  if (folderUnsynced_) {
    if (!SyncFolder(path_)) {
      *error = "cannot write state file " + path_ +
               ": its folder could not be flushed to the disk: " + std::strerror(errno);
      return false;
    }
    folderUnsynced_ = false;
  }
  std::string why;
  if (cutPending_ && !CutBack(&why)) {
    *error = "cannot write state file " + path_ + ": " + why;
    return false;
  }
  uint32_t chain = chain_;
  std::string text;
  if (lineEndFirst_ && appendWhileRewriting_) text = "\n";
  if (records.size() > 1) {
    StateRecord group;
    group.type = RecordType::Group;
    group.groupSize = static_cast<uint32_t>(records.size());
    text += SealLineInChain(FormatStateRecord(group), &chain) + "\n";
  }
  for (const StateRecord& record : records) {
    text += SealLineInChain(FormatStateRecord(record), &chain) + "\n";
  }
  bool written = WriteWhole(fd_, text, "StateWrite");
  int saved = errno;
  InjectedFault fault;
  if (written && sync_ && (CheckFault("StateSync", &fault) || fdatasync(fd_) != 0)) {
    written = false;
    saved = fault.hasCode ? fault.code : errno;
  }
  if (!written) {
    *error = "cannot write state file " + path_ + ": " + std::strerror(saved);
    // What was refused must not count at the next start, in part or whole.
    cutPending_ = true;
    refused_ = std::move(text);
    if (!CutBack(&why)) {
      *error += " (" + why + ")";
      NoteFailedCut();
    }
    return false;
  }
  fileSize_ += text.size();
  chain_ = chain;
  appended_ += records.size();
  if (appendWhileRewriting_) KeepForRewrite(records);
  lineEndFirst_ = false;
  return true;
}

void StateJournal::KeepForRewrite(const std::vector<StateRecord>& records) {
  if (records.size() > 1) {
    StateRecord group;
    group.type = RecordType::Group;
    group.groupSize = static_cast<uint32_t>(records.size());
    rewrite_.later.push_back(FormatStateRecord(group));
  }
  for (const StateRecord& record : records) rewrite_.later.push_back(FormatStateRecord(record));
  rewrite_.laterRecords += records.size();
}

bool StateJournal::RewriteLackedRoom() const {
  return rewriteFailure_ == ENOSPC || rewriteFailure_ == EDQUOT || rewriteFailure_ == EFBIG;
}

bool StateJournal::CutBack(std::string* why) {
  InjectedFault fault;
  bool injected = CheckFault("StateCut", &fault);
  if (injected || ftruncate(fd_, static_cast<off_t>(fileSize_)) != 0 ||
      (sync_ && fdatasync(fd_) != 0)) {
    *why = std::string("a refused change could not be cut off the file: ") +
           (injected ? "injected fault" : std::strerror(errno)) +
           "; changes are refused until it can";
    return false;
  }
  cutPending_ = false;
  refused_.clear();
  if (noted_) unlink(cutNote_.c_str());
  noted_ = false;
  return true;
}

void StateJournal::NoteFailedCut() {
  if (cutNote_.empty() || noted_) return;
  std::string why;
  int fd = transport::OpenOwnFile(cutNote_, 0600, &why);
  if (fd < 0) return;
  std::string note = "size=" + std::to_string(fileSize_) + " state=" + path_ + "\n" + refused_;
  // The note counts only once its name is on the disk too.
  noted_ = ftruncate(fd, 0) == 0 && WriteWhole(fd, note) && fsync(fd) == 0 && SyncFolder(cutNote_);
  close(fd);
}

bool StateJournal::MakeNotedCut(std::string* said, std::string* error) {
  if (cutNote_.empty()) return true;
  std::string note, why;
  bool missing = false;
  if (!transport::ReadOwnFile(cutNote_, STATE_CUT_NOTE_LIMIT, &note, &why, &missing)) {
    if (!missing) *said = "left alone " + cutNote_ + ": " + why;
    return true;
  }
  // "size=N state=PATH", a line end, then the refused text as it was written.
  size_t end = note.find('\n');
  std::string head = note.substr(0, end == std::string::npos ? note.size() : end);
  std::string refused = end == std::string::npos ? std::string() : note.substr(end + 1);
  size_t space = head.find(" state=");
  unsigned long long size = 0;
  bool wellFormed = head.rfind("size=", 0) == 0 && space != std::string::npos &&
                    std::sscanf(head.c_str(), "size=%llu", &size) == 1;
  bool ours = wellFormed && head.substr(space + 7) == path_;
  struct stat st;
  bool fits = ours && !refused.empty() && fstat(fd_, &st) == 0 &&
              static_cast<unsigned long long>(st.st_size) > size &&
              static_cast<unsigned long long>(st.st_size) - size <= refused.size();
  if (fits) {
    std::string tail(static_cast<size_t>(st.st_size - size), '\0');
    fits = pread(fd_, tail.data(), tail.size(), static_cast<off_t>(size)) ==
               static_cast<ssize_t>(tail.size()) &&
           refused.compare(0, tail.size(), tail) == 0;
  }
  if (fits) {
    if (ftruncate(fd_, static_cast<off_t>(size)) != 0 || fdatasync(fd_) != 0) {
      *error = "cannot cut off " + path_ + " the change refused before the last stop (noted in " +
               cutNote_ + "): " + std::strerror(errno);
      return false;
    }
    *said = path_ +
            ": cut off the change that was refused before the last stop, when the file "
            "system would not take the cut (noted in " +
            cutNote_ + ")";
  } else if (ours) {
    *said = "left alone " + cutNote_ + ": " + path_ + " no longer ends in the change it notes";
  }
  // A note for another state file belongs to that file's agent; one that does not read, to nobody.
  if (ours || !wellFormed) unlink(cutNote_.c_str());
  return true;
}

}  // namespace orvu::agent
