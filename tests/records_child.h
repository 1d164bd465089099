// Runs a few lines of record-module calls as a whole little program: a forked
// child that starts the run, works in its own temporary directory and ends
// with RUNEND (or with whatever condition its calls meet). The parent gets the
// exit status, standard output and error, and the child's notes.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "records/records.h"
#include "support/run.h"

namespace recchild {

// A fresh directory, removed with everything in it at the end of the test.
struct TempDir {
  std::string path;  // without symbolic links, as the module reports it
  TempDir() {
    std::string d = make_tempdir();
    char buf[PATH_MAX];
    path = realpath(d.c_str(), buf) ? std::string(buf) : d;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string read(const std::string& name) const { return read_file(path, name); }
  void write(const std::string& name, const std::string& content) const { write_file(path, name, content); }
  bool exists(const std::string& name) const { return file_exists(path, name); }
};

struct Child {
  int status = -1;    // exit status; 128 + signal when killed by a signal
  std::string out;    // standard output
  std::string err;    // standard error
  std::string notes;  // lines written by note() in the child
};

inline int& note_fd() {
  static int fd = -1;
  return fd;
}

// In the child: one line of results for the parent, written at once (a
// condition ends the child without completing any stdio buffer).
inline void note(const std::string& s) {
  std::string l = s + "\n";
  if (note_fd() >= 0) (void)!::write(note_fd(), l.data(), l.size());
}

// Runs `body` in a child in `dir` as program `program`. With `merge_err`
// standard error goes to the same file as standard output, so that the order
// of the report and the completed listing shows.
inline Child run_child(const TempDir& dir, const char* program, const std::function<void()>& body,
                       bool merge_err = false) {
  const std::string out = dir.path + "/.stdout", err = dir.path + "/.stderr", notes = dir.path + "/.notes";
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.path.c_str()) != 0) ::_exit(200);
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    int e = merge_err ? o : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int n = ::open(notes.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0 || n < 0) ::_exit(201);
    ::dup2(o, 1);
    ::dup2(e, 2);
    note_fd() = n;
    RUNSTART(program);
    body();
    RUNEND();
  }
  Child c;
  int st = 0;
  if (pid > 0 && ::waitpid(pid, &st, 0) == pid)
    c.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  c.out = dir.read(".stdout");
  c.err = merge_err ? std::string() : dir.read(".stderr");
  c.notes = dir.read(".notes");
  std::error_code ec;
  for (const std::string& p : {out, err, notes}) std::filesystem::remove(p, ec);
  return c;
}

}  // namespace recchild
