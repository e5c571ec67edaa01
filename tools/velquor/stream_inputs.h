// The inputs of a merge, as its players are to read them. A regular file is
// detected by path and read again by its player. Anything else (a pipe, a
// FIFO, /dev/stdin, /dev/fd/N, a character device) can be read only once:
// it is opened here once and read until its first bytes decide its kind;
// its player is then given the read end of a pipe of this object
// (/dev/fd/N) into which a relay thread writes those bytes and then the
// rest of the input, so the player sees the whole stream from its first
// byte.
//
// Threading: Add and the accessors run on the thread that owns the object
// (the merge's). Each stream has one relay thread, started by Add, which
// from then on alone touches the stream's input and its pipe's write end;
// it closes both when the input ends (the player then reads an end of
// file), on a read or write failure (noted for Finish, which joins the
// thread before reading it), or on Stop. Every wait of this object, Add's wait
// for the first bytes as well as the relays' reads and writes, also polls
// an eventfd that Stop makes readable for good: Stop may be called from
// any thread (a stop request's watcher) and nothing here blocks past it.
// The destructor finishes the relays, then closes the pipes' read ends:
// destroy the object after the engine whose players read them.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "input_kind.h"

namespace velquor::tool {

class StreamInputs {
 public:
  StreamInputs();
  ~StreamInputs();
  StreamInputs(const StreamInputs&) = delete;
  StreamInputs& operator=(const StreamInputs&) = delete;

  /// Adds the next input (the i-th call adds input i) and tells its kind,
  /// as DetectInputKind does. A stream is read until HeadIsComplete, its
  /// end or a stop. Unknown with `problem` set (to follow "'PATH': ") when
  /// the kind cannot be told, the stream is already an input, or a stop
  /// came first.
  InputKind Add(const std::string& path, std::string& problem);

  bool IsStream(std::size_t i) const;
  /// What the player of input i reads: its path, or /dev/fd/N for a stream.
  std::string PlayerPath(std::size_t i) const;
  /// The first bytes read from each input: empty for a regular file (as
  /// CheckLinkTypes takes them).
  std::vector<std::string> Heads() const;
  /// The first line of stream i without a byte order mark or a '\r' (a CSV
  /// stream's header, for its player).
  std::string FirstLine(std::size_t i) const;
  /// `text` with the player path of input i, where a message names it
  /// ("/dev/fd/N: "), replaced by the input's own path.
  std::string Rename(std::size_t i, std::string text) const;

  /// Ends every wait and relay. Any thread; never blocks.
  void Stop();
  /// Once the players have stopped: stops and joins the relays, and tells
  /// what went wrong in them ("'PATH': read error: ...", one text per
  /// failed stream; a stop is no failure).
  std::vector<std::string> Finish();

 private:
  struct Input;

  bool Wait(int fd, short events) const;
  bool ReadHead(Input& input, std::string& problem) const;
  void Relay(Input& input) const;

  int m_stop = -1;  // eventfd, readable once stopped
  std::vector<std::unique_ptr<Input>> m_inputs;
};

}  // namespace velquor::tool
