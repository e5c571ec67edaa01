// Child processes and pipes: output and exit codes, input, environment and
// working directory, time-outs, termination, detached and in-place runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "daxo_process.h"
#include "daxo_system.h"

namespace {

DAXOArray<DAXOString> Args(std::initializer_list<const char*> list) {
  DAXOArray<DAXOString> args;
  for (const char* a : list) args.Append(a);
  return args;
}

// The exit status of the process's child, waited for without a time limit.
int ExitStatus(DAXOProcess& process) {
  int status = -1;
  EXPECT_TRUE(process.wait(status, -1));
  return status;
}

std::string ReadToEnd(DAXOPipe& pipe) {
  std::string out;
  char buffer[256];
  int n;
  while ((n = pipe.read(buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  return out;
}

TEST(DAXOProcess, CollectsOutputErrorAndExitCode) {
  DAXOPipe out;
  DAXOPipe err;
  ASSERT_TRUE(out);
  DAXOProcess process(Args({"/bin/sh", "-c", "echo hello; echo oops >&2; exit 3"}), nullptr, &out,
                      &err);
  EXPECT_EQ(process.getState(), DAXOProcess::NotStarted);
  int error = 0;
  ASSERT_TRUE(process.runAsChild(&error)) << error;
  EXPECT_GT(process.getPid(), 0);
  // Our copies of the write ends are closed, so the reads end with the child.
  EXPECT_EQ(ReadToEnd(out), "hello\n");
  EXPECT_EQ(ReadToEnd(err), "oops\n");
  EXPECT_EQ(ExitStatus(process), 3);
  EXPECT_EQ(process.getState(), DAXOProcess::Exited);
  int status = -1;
  ASSERT_TRUE(process.wait(status, 0));  // the same status again
  EXPECT_EQ(status, 3);
}

TEST(DAXOProcess, ProgramsThatCannotRunFailWithTheirError) {
  // The error of a failed runAsChild, or -1 when it succeeded.
  auto failure = [](DAXOProcess& process) {
    int error = 0;
    return process.runAsChild(&error) ? -1 : error;
  };
  DAXOProcess missing(Args({"/no/such/program"}));
  EXPECT_EQ(failure(missing), ENOENT);
  EXPECT_EQ(missing.getState(), DAXOProcess::NotStarted);
  int status = 0;
  EXPECT_FALSE(missing.wait(status, 0) || missing.terminate());

  DAXOProcess noSearch(Args({"sh", "-c", "exit 0"}), nullptr, nullptr, nullptr, false, false);
  EXPECT_EQ(failure(noSearch), ENOENT);
  DAXOProcess badFolder(Args({"/bin/true"}));
  badFolder.setCurrentDirectory("/no/such/folder");
  EXPECT_EQ(failure(badFolder), ENOENT);
  DAXOProcess empty(DAXOArray<DAXOString>{});
  EXPECT_NE(failure(empty), -1);
}

TEST(DAXOProcess, AppliesEnvironmentAndWorkingDirectory) {
  setenv("DAXO_INHERITED", "from parent", 1);
  DAXOPipe out;
  DAXOProcess process(
      Args({"/bin/sh", "-c",
            "printf '%s|%s|%s|%s' \"$DAXO_SET\" \"${HOME-unset}\" \"$DAXO_INHERITED\" \"$(pwd)\""}),
      nullptr, &out);
  unsetenv("DAXO_INHERITED");
  process.setEnvironmentVariable("DAXO_SET", "value 1");
  process.setEnvironmentVariable("DAXO_SET", "value 2");
  process.removeEnvironmentVariable("HOME");
  process.setCurrentDirectory("/tmp");
  ASSERT_TRUE(process.runAsChild());
  EXPECT_EQ(ReadToEnd(out), "value 2|unset|from parent|/tmp");
  EXPECT_EQ(ExitStatus(process), 0);
}

TEST(DAXOProcess, WaitTimesOutWhileTheChildRunsOnItsInput) {
  DAXOPipe in;
  DAXOPipe out;
  DAXOProcess process(Args({"cat"}), &in, &out);
  ASSERT_TRUE(process.runAsChild());
  int status = -1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(process.wait(status, 20000));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(15));
  EXPECT_LT(waited, std::chrono::seconds(10));
  EXPECT_FALSE(process.wait(status, 0));
  EXPECT_EQ(process.getState(), DAXOProcess::Running);

  EXPECT_EQ(in.write("some data", 9), 9);
  in.closeWriteDescriptor();  // cat sees the end of its input and exits
  EXPECT_EQ(ReadToEnd(out), "some data");
  ASSERT_TRUE(process.wait(status, 10 * 1000 * 1000));
  EXPECT_EQ(status, 0);
}

TEST(DAXOProcess, TerminateFromAnotherThreadEndsTheChildForEveryWaiter) {
  DAXOPipe in;
  DAXOProcess process(Args({"cat"}), &in);
  ASSERT_TRUE(process.runAsChild());
  int first = -1;
  int second = -1;
  bool secondDone = false;
  std::thread waiterA([&] { first = ExitStatus(process); });
  std::thread waiterB([&] { secondDone = process.wait(second, 30 * 1000 * 1000); });
  std::thread killer([&] { EXPECT_TRUE(process.terminate()); });
  killer.join();
  waiterA.join();
  waiterB.join();
  EXPECT_TRUE(secondDone);
  EXPECT_EQ(first, 128 + SIGTERM);
  EXPECT_EQ(second, 128 + SIGTERM);
  EXPECT_FALSE(process.terminate());  // reaped: nothing is signalled any more
}

TEST(DAXOProcess, DetachedProgramIsNotOurChild) {
  DAXOPipe out;
  DAXOProcess process(Args({"/bin/sh", "-c", "echo $$"}), nullptr, &out);
  ASSERT_TRUE(process.runDetached());
  EXPECT_EQ(process.getState(), DAXOProcess::Detached);
  EXPECT_EQ(ReadToEnd(out), std::to_string(process.getPid()) + "\n");
  EXPECT_EQ(waitpid(process.getPid(), nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  int status = 0;
  EXPECT_FALSE(process.wait(status, 0) || process.terminate());

  int error = 0;
  DAXOProcess missing(Args({"/no/such/program"}));
  EXPECT_FALSE(missing.runDetached(&error));
  EXPECT_EQ(error, ENOENT);
}

// The exit code of a forked child that runs `body` and exits with its result
// (forked so that the test process itself survives a replacement).
template <class F>
int ExitCodeOfForkedChild(F body) {
  const pid_t child = fork();
  if (child == 0) _exit(body());
  int raw = 0;
  EXPECT_EQ(waitpid(child, &raw, 0), child);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(DAXOProcess, RunAsCurrentReplacesTheProcess) {
  EXPECT_EQ(ExitCodeOfForkedChild([] {
              DAXOProcess process(Args({"/bin/sh", "-c", "exit 7"}));
              process.runAsCurrent();
              return 99;
            }),
            7);
  EXPECT_EQ(ExitCodeOfForkedChild([] {
              DAXOProcess process(Args({"/no/such/program"}));
              return process.runAsCurrent() ? 98 : (errno == ENOENT ? 5 : 6);
            }),
            5);
}

TEST(DAXOProcess, TerminalRunIsUnusableWithoutAWorkingDisplay) {
  if (isatty(STDOUT_FILENO)) GTEST_SKIP() << "runs directly when output is a terminal";
  DAXOProcess probe(Args({"/bin/sh", "-c", "command -v xhost"}));
  ASSERT_TRUE(probe.runAsChild());
  if (ExitStatus(probe) == 0) GTEST_SKIP() << "xhost is installed: a terminal window could open";
  DAXOProcess process(Args({"/bin/true"}), nullptr, nullptr, nullptr, true);
  EXPECT_EQ(process.getState(), DAXOProcess::Unusable);
  EXPECT_FALSE(process.runAsChild());
}

TEST(DAXOPipe, WriteWithoutReaderFailsInsteadOfKillingTheProcess) {
  DAXOPipe pipe;
  pipe.closeReadDescriptor();
  EXPECT_EQ(pipe.write("x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
  EXPECT_TRUE(pipe);
  pipe.close();
  EXPECT_FALSE(pipe);
  char c;
  EXPECT_TRUE(pipe.write("x", 1) == -1 && pipe.read(&c, 1) == -1);
}

TEST(DAXOPipe, OnlyFlaggedEndsReachOtherChildren) {
  // A child that writes to the write end by descriptor number, not through
  // its standard output.
  auto writesThrough = [](DAXOPipe& pipe) {
    const std::string command = "echo hi >&" + std::to_string(pipe.getWriteDescriptor());
    DAXOProcess process(Args({"/bin/sh", "-c", command.c_str()}));
    EXPECT_TRUE(process.runAsChild());
    return ExitStatus(process);
  };
  DAXOPipe inherited(DAXOPipe::InheritWrite);
  EXPECT_EQ(writesThrough(inherited), 0);
  inherited.closeWriteDescriptor();
  EXPECT_EQ(ReadToEnd(inherited), "hi\n");

  DAXOPipe private_;
  EXPECT_NE(writesThrough(private_), 0);
}

}  // namespace
