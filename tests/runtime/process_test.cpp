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
  int status = -1;
  ASSERT_TRUE(process.wait(status, -1));
  EXPECT_EQ(status, 3);
  EXPECT_EQ(process.getState(), DAXOProcess::Exited);
  status = -1;
  ASSERT_TRUE(process.wait(status, 0));  // the same status again
  EXPECT_EQ(status, 3);
}

TEST(DAXOProcess, FeedsStandardInput) {
  DAXOPipe in;
  DAXOPipe out;
  DAXOProcess process(Args({"cat"}), &in, &out);
  ASSERT_TRUE(process.runAsChild());
  EXPECT_EQ(in.write("some data", 9), 9);
  in.closeWriteDescriptor();
  EXPECT_EQ(ReadToEnd(out), "some data");
  int status = -1;
  ASSERT_TRUE(process.wait(status));
  EXPECT_EQ(status, 0);
}

TEST(DAXOProcess, ProgramsThatCannotRunFailWithTheirError) {
  int error = 0;
  DAXOProcess missing(Args({"/no/such/program"}));
  EXPECT_FALSE(missing.runAsChild(&error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(missing.getState(), DAXOProcess::NotStarted);
  int status = 0;
  EXPECT_FALSE(missing.wait(status, 0));
  EXPECT_FALSE(missing.terminate());

  DAXOProcess noSearch(Args({"sh", "-c", "exit 0"}), nullptr, nullptr, nullptr, false, false);
  EXPECT_FALSE(noSearch.runAsChild(&error));
  EXPECT_EQ(error, ENOENT);

  DAXOProcess badFolder(Args({"/bin/true"}));
  badFolder.setCurrentDirectory("/no/such/folder");
  EXPECT_FALSE(badFolder.runAsChild(&error));
  EXPECT_EQ(error, ENOENT);

  DAXOProcess empty(DAXOArray<DAXOString>{});
  EXPECT_FALSE(empty.runAsChild(&error));
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
  int status = -1;
  ASSERT_TRUE(process.wait(status));
  EXPECT_EQ(status, 0);
}

TEST(DAXOProcess, WaitTimesOutWhileTheChildRuns) {
  DAXOPipe in;
  DAXOProcess process(Args({"cat"}), &in);
  ASSERT_TRUE(process.runAsChild());
  int status = -1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(process.wait(status, 20000));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(15));
  EXPECT_LT(waited, std::chrono::seconds(10));
  EXPECT_FALSE(process.wait(status, 0));
  EXPECT_EQ(process.getState(), DAXOProcess::Running);

  in.closeWriteDescriptor();  // cat sees the end of its input and exits
  ASSERT_TRUE(process.wait(status, 10 * 1000 * 1000));
  EXPECT_EQ(status, 0);
}

TEST(DAXOProcess, TerminateEndsTheChildWithSigterm) {
  DAXOPipe in;
  DAXOProcess process(Args({"cat"}), &in);
  ASSERT_TRUE(process.runAsChild());
  EXPECT_TRUE(process.terminate());
  int status = -1;
  ASSERT_TRUE(process.wait(status, -1));
  EXPECT_EQ(status, 128 + SIGTERM);
  EXPECT_FALSE(process.terminate());  // reaped: nothing is signalled any more
}

TEST(DAXOProcess, WaitAndTerminateFromOtherThreads) {
  DAXOPipe in;
  DAXOProcess process(Args({"cat"}), &in);
  ASSERT_TRUE(process.runAsChild());
  int first = -1;
  int second = -1;
  bool firstDone = false;
  bool secondDone = false;
  std::thread waiterA([&] { firstDone = process.wait(first, -1); });
  std::thread waiterB([&] { secondDone = process.wait(second, 30 * 1000 * 1000); });
  std::thread killer([&] { EXPECT_TRUE(process.terminate()); });
  killer.join();
  waiterA.join();
  waiterB.join();
  EXPECT_TRUE(firstDone);
  EXPECT_TRUE(secondDone);
  EXPECT_EQ(first, 128 + SIGTERM);
  EXPECT_EQ(second, 128 + SIGTERM);
}

TEST(DAXOProcess, DetachedProgramIsNotOurChild) {
  DAXOPipe out;
  DAXOProcess process(Args({"/bin/sh", "-c", "echo $$"}), nullptr, &out);
  ASSERT_TRUE(process.runDetached());
  EXPECT_EQ(process.getState(), DAXOProcess::Detached);
  const std::string pid = ReadToEnd(out);
  EXPECT_EQ(pid, std::to_string(process.getPid()) + "\n");
  EXPECT_EQ(waitpid(process.getPid(), nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  int status = 0;
  EXPECT_FALSE(process.wait(status, 0));
  EXPECT_FALSE(process.terminate());

  int error = 0;
  DAXOProcess missing(Args({"/no/such/program"}));
  EXPECT_FALSE(missing.runDetached(&error));
  EXPECT_EQ(error, ENOENT);
}

TEST(DAXOProcess, RunAsCurrentReplacesTheProcess) {
  // Forked so that the test process itself survives.
  const pid_t replaced = fork();
  ASSERT_GE(replaced, 0);
  if (replaced == 0) {
    DAXOProcess process(Args({"/bin/sh", "-c", "exit 7"}));
    process.runAsCurrent();
    _exit(99);
  }
  int raw = 0;
  ASSERT_EQ(waitpid(replaced, &raw, 0), replaced);
  EXPECT_EQ(WEXITSTATUS(raw), 7);

  const pid_t failing = fork();
  ASSERT_GE(failing, 0);
  if (failing == 0) {
    DAXOProcess process(Args({"/no/such/program"}));
    _exit(process.runAsCurrent() ? 98 : (errno == ENOENT ? 5 : 6));
  }
  ASSERT_EQ(waitpid(failing, &raw, 0), failing);
  EXPECT_EQ(WEXITSTATUS(raw), 5);
}

TEST(DAXOProcess, TerminalRunIsUnusableWithoutAWorkingDisplay) {
  if (isatty(STDOUT_FILENO)) GTEST_SKIP() << "runs directly when output is a terminal";
  DAXOArray<DAXOString> which = Args({"/bin/sh", "-c", "command -v xhost"});
  DAXOProcess probe(which);
  int status = -1;
  ASSERT_TRUE(probe.runAsChild());
  ASSERT_TRUE(probe.wait(status));
  if (status == 0) GTEST_SKIP() << "xhost is installed: a terminal window could open";
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
  EXPECT_EQ(pipe.write("x", 1), -1);
  char c;
  EXPECT_EQ(pipe.read(&c, 1), -1);
}

TEST(DAXOPipe, OnlyFlaggedEndsReachOtherChildren) {
  // A child that writes to the write end by descriptor number, not through
  // its standard output.
  auto writesThrough = [](DAXOPipe& pipe) {
    const std::string command = "echo hi >&" + std::to_string(pipe.getWriteDescriptor());
    DAXOProcess process(Args({"/bin/sh", "-c", command.c_str()}));
    int status = -1;
    EXPECT_TRUE(process.runAsChild());
    EXPECT_TRUE(process.wait(status));
    return status;
  };
  DAXOPipe inherited(DAXOPipe::InheritWrite);
  EXPECT_EQ(writesThrough(inherited), 0);
  inherited.closeWriteDescriptor();
  EXPECT_EQ(ReadToEnd(inherited), "hi\n");

  DAXOPipe private_;
  EXPECT_NE(writesThrough(private_), 0);
}

}  // namespace
