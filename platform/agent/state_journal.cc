#include "state_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvu::agent {
namespace {

bool WriteWhole(int fd, const std::string& data) {
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// Bytes gathered before a rewrite hands them to the file.
constexpr size_t STATE_WRITE_BLOCK = 256 * 1024;

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ReadStateFile(const std::string& path, const StateRecordSink& take, bool* existed,
                   std::string* error) {
  *existed = false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    *error = "cannot read state file " + path + ": " + std::strerror(errno);
    return false;
  }
  *existed = true;
  // Read a block at a time and hand each record on as its line is whole: the file is never held
  // whole, nor are its records.
  std::string pending;
  char buffer[65536];
  int line = 0;
  bool atEnd = false;
  while (!atEnd) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = "cannot read state file " + path + ": " + std::strerror(errno);
      close(fd);
      return false;
    }
    atEnd = n == 0;
    pending.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    while (start < pending.size()) {
      size_t end = pending.find('\n', start);
      if (end == std::string::npos) {
        if (!atEnd) break;
        end = pending.size();
      }
      ++line;
      std::string_view text(pending.data() + start, end - start);
      start = end + 1;
      StateRecord record;
      std::string cause;
      bool ok = text.find('\0') == std::string_view::npos;
      if (!ok) {
        *error = path + ":" + std::to_string(line) + ": not a text line";
      } else if (ParseStateLine(std::string(text), &record, &cause)) {
        ok = take(std::move(record), error);
      } else if (!cause.empty()) {
        *error = path + ":" + std::to_string(line) + ": " + cause;
        ok = false;
      }
      if (!ok) {
        close(fd);
        return false;
      }
    }
    pending.erase(0, std::min(start, pending.size()));
  }
  close(fd);
  return true;
}

StateJournal::~StateJournal() {
  if (fd_ >= 0) close(fd_);
  if (lockFd_ >= 0) close(lockFd_);
}

bool StateJournal::Lock(const std::string& path, bool syncEachChange, std::string* error) {
  path_ = path;
  sync_ = syncEachChange;
  std::string lockPath = path + ".lock";
  lockFd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd_ < 0) {
    *error = "cannot open " + lockPath + ": " + std::strerror(errno);
    return false;
  }
  if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    *error = "state file " + path + " is in use by another agent";
    return false;
  }
  return true;
}

bool StateJournal::Rewrite(const StateRecordSource& records, std::string* error) {
  std::string temp = path_ + ".new";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot write " + temp + ": " + std::strerror(errno);
    return false;
  }
  // The records are written out in blocks as they come: the whole new file is never in memory.
  std::string block = "# orvu-agentd state: one record per line, see platform/README.md\n";
  size_t total = 0;
  bool ok = true;
  records([&](const StateRecord& record) {
    block += FormatStateRecord(record);
    block += '\n';
    if (ok && block.size() >= STATE_WRITE_BLOCK) {
      ok = WriteWhole(fd, block);
      total += block.size();
      block.clear();
    }
  });
  // The new file reaches the disk before it replaces the old one, so that a crash leaves one of
  // the two whole, never an empty file under the state file's name.
  ok = ok && WriteWhole(fd, block) && fsync(fd) == 0;
  total += block.size();
  int saved = errno;
  close(fd);
  if (!ok || rename(temp.c_str(), path_.c_str()) != 0) {
    if (ok) saved = errno;
    unlink(temp.c_str());
    *error = "cannot write state file " + path_ + ": " + std::strerror(saved);
    return false;
  }
  if (sync_) {
    int dir = open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      fsync(dir);
      close(dir);
    }
  }
  int appendFd = open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (appendFd < 0) {
    *error = "cannot open state file " + path_ + ": " + std::strerror(errno);
    return false;
  }
  if (fd_ >= 0) close(fd_);
  fd_ = appendFd;
  appended_ = 0;
  fileSize_ = total;
  rewriteSize_ = total;
  return true;
}

bool StateJournal::Append(const StateRecord& record, std::string* error) {
  std::string line = FormatStateRecord(record) + "\n";
  if (fd_ < 0) {
    *error = "state file " + path_ + " is not open";
    return false;
  }
  // The size is kept here rather than asked of the file: one system call per change, the write.
  if (!WriteWhole(fd_, line) || (sync_ && fdatasync(fd_) != 0)) {
    *error = "cannot write state file " + path_ + ": " + std::strerror(errno);
    // A part-written line would spoil the file for the next start.
    if (ftruncate(fd_, static_cast<off_t>(fileSize_)) != 0)
      *error += " (and the file could not be repaired)";
    return false;
  }
  fileSize_ += line.size();
  ++appended_;
  return true;
}

}  // namespace orvu::agent
