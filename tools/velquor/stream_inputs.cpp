// Inputs read once: first bytes for detection, then a relay into a pipe.
#include "stream_inputs.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace velquor::tool {

namespace {

// Most first bytes read from a stream while waiting for HeadIsComplete: a
// CSV header line may be long (one name per column), but a stream without
// a line end is not waited on for ever.
constexpr std::size_t kMaxHead = 4 << 20;
constexpr std::size_t kChunk = 64 << 10;

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

struct StreamInputs::Input {
  std::string path;
  std::string playerPath;
  std::string head;  // first bytes of a stream; empty for a regular file
  dev_t device = 0;
  ino_t inode = 0;
  bool stream = false;
  bool ended = false;  // the stream ended while its head was read
  int source = -1;     // the stream, non-blocking
  int pipe[2] = {-1, -1};
  std::string failure;  // written by the relay, read after it is joined
  std::thread relay;
};

StreamInputs::StreamInputs() : m_stop(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StreamInputs::~StreamInputs() {
  Finish();
  for (const auto& input : m_inputs) {
    for (const int fd : {input->source, input->pipe[0], input->pipe[1]}) {
      if (fd >= 0) close(fd);
    }
  }
  if (m_stop >= 0) close(m_stop);
}

void StreamInputs::Stop() {
  const std::uint64_t one = 1;
  // The counter only grows: the eventfd stays readable for every wait.
  while (write(m_stop, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

std::vector<std::string> StreamInputs::Finish() {
  Stop();
  std::vector<std::string> failures;
  for (const auto& input : m_inputs) {
    if (input->relay.joinable()) input->relay.join();
    if (!input->failure.empty()) failures.push_back("'" + input->path + "': " + input->failure);
    input->failure.clear();
  }
  return failures;
}

bool StreamInputs::Wait(int fd, short events) const {
  pollfd fds[2] = {{fd, events, 0}, {m_stop, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0) return false;
    if (fds[0].revents != 0) return true;  // ready, or hung up / failed: the call says which
  }
}

InputKind StreamInputs::Add(const std::string& path, std::string& problem) {
  auto input = std::make_unique<Input>();
  input->path = path;
  input->playerPath = path;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)) {
    m_inputs.push_back(std::move(input));
    return DetectInputKind(path, problem);
  }
  input->stream = true;
  input->device = status.st_dev;
  input->inode = status.st_ino;
  m_inputs.push_back(std::move(input));
  Input& stream = *m_inputs.back();
  for (std::size_t i = 0; i + 1 < m_inputs.size(); ++i) {
    const Input& other = *m_inputs[i];
    if (other.stream && other.device == stream.device && other.inode == stream.inode) {
      problem =
          "it is the same stream as the input '" + other.path + "': a stream can be read only once";
      return InputKind::Unknown;
    }
  }
  // Non-blocking: opening a FIFO does not wait for a writer (the wait is
  // Wait's, which a stop ends).
  stream.source = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (stream.source < 0) {
    problem = Errno("cannot open it");
    return InputKind::Unknown;
  }
  if (!ReadHead(stream, problem)) return InputKind::Unknown;
  const InputKind kind = DetectInputKindFromBytes(stream.head, &problem);
  if (kind == InputKind::Unknown) return kind;
  if (pipe2(stream.pipe, O_CLOEXEC) != 0) {
    problem = Errno("cannot make a pipe for it");
    return InputKind::Unknown;
  }
  fcntl(stream.pipe[1], F_SETFL, O_NONBLOCK);
  stream.playerPath = "/dev/fd/" + std::to_string(stream.pipe[0]);
  stream.relay = std::thread([this, &stream] { Relay(stream); });
  return kind;
}

bool StreamInputs::ReadHead(Input& input, std::string& problem) const {
  std::string& head = input.head;
  while (!HeadIsComplete(head) && head.size() < kMaxHead) {
    if (!Wait(input.source, POLLIN)) {
      problem = "stopped while waiting for its first bytes";
      return false;
    }
    const std::size_t size = head.size();
    head.resize(size + kChunk);
    const ssize_t n = read(input.source, head.data() + size, kChunk);
    head.resize(size + static_cast<std::size_t>(n > 0 ? n : 0));
    if (n == 0) {
      input.ended = true;
      break;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      problem = Errno("read error");
      return false;
    }
  }
  return true;
}

void StreamInputs::Relay(Input& input) const {
  std::string pending = input.head;
  std::size_t written = 0;
  bool more = !input.ended;
  for (;;) {
    if (written == pending.size()) {
      if (!more || !Wait(input.source, POLLIN)) break;
      pending.resize(kChunk);
      const ssize_t n = read(input.source, pending.data(), kChunk);
      pending.resize(static_cast<std::size_t>(n > 0 ? n : 0));
      written = 0;
      if (n == 0) more = false;
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        input.failure = Errno("read error");
        break;
      }
      continue;
    }
    if (!Wait(input.pipe[1], POLLOUT)) break;
    const ssize_t n = write(input.pipe[1], pending.data() + written, pending.size() - written);
    if (n > 0) written += static_cast<std::size_t>(n);
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      input.failure = Errno("cannot pass it on");
      break;
    }
  }
  // The player reads what is in the pipe, then an end of file.
  close(input.pipe[1]);
  close(input.source);
  input.pipe[1] = input.source = -1;
}

bool StreamInputs::IsStream(std::size_t i) const {
  return m_inputs.at(i)->stream;
}

std::string StreamInputs::PlayerPath(std::size_t i) const {
  return m_inputs.at(i)->playerPath;
}

std::vector<std::string> StreamInputs::Heads() const {
  std::vector<std::string> heads;
  for (const auto& input : m_inputs) heads.push_back(input->head);
  return heads;
}

std::string StreamInputs::FirstLine(std::size_t i) const {
  return std::string(FirstTextLine(m_inputs.at(i)->head));
}

std::string StreamInputs::Rename(std::size_t i, std::string text) const {
  const Input& input = *m_inputs.at(i);
  if (!input.stream) return text;
  const std::string from = input.playerPath + ": ";
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos;) {
    text.replace(at, from.size(), input.path + ": ");
    at += input.path.size() + 2;
  }
  return text;
}

}  // namespace velquor::tool
