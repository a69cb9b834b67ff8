#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <stdexcept>

namespace pixhold::test {

// A forked child process that talks with the parent through two pipes, one
// byte per message, so tests synchronise on messages instead of sleeps.
//
// Fork before the parent opens the files the child is to use: a child shares
// the parent's open file descriptions (and with them their locks) and inherits
// a copy of the process-wide file list.
//
//     ChildProcess child([](ChildProcess::Channel& parent) {
//         ... open and lock ...
//         parent.Send('L');
//         parent.Receive();      // wait until the parent has checked
//         return 0;              // the child's exit code
//     });
//     child.Receive();           // 'L'
//     ... check the lock from the parent ...
//     child.Send('q');
//     EXPECT_EQ(child.Wait(), 0);
class ChildProcess {
public:
    class Channel {
    public:
        Channel(int readFd, int writeFd) : read_(readFd), write_(writeFd) {}
        void Send(char message) const {
            while (::write(write_, &message, 1) < 0 && errno == EINTR) {
            }
        }
        // The next message, or '\0' when the other side has gone away.
        char Receive() const {
            char message = '\0';
            ssize_t n;
            do {
                n = ::read(read_, &message, 1);
            } while (n < 0 && errno == EINTR);
            return n == 1 ? message : '\0';
        }

    private:
        int read_;
        int write_;
    };

    explicit ChildProcess(const std::function<int(Channel&)>& body) {
        int toChild[2];
        int toParent[2];
        if (::pipe(toChild) != 0 || ::pipe(toParent) != 0) throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            ::close(toChild[1]);
            ::close(toParent[0]);
            Channel parent(toChild[0], toParent[1]);
            int code = 100;
            try {
                code = body(parent);
            } catch (...) {
                code = 101;
            }
            // Leave without running the parent's exit handlers or test framework.
            ::_exit(code);
        }
        ::close(toChild[0]);
        ::close(toParent[1]);
        channel_ = Channel(toParent[0], toChild[1]);
        readFd_ = toParent[0];
        writeFd_ = toChild[1];
    }

    ~ChildProcess() {
        if (writeFd_ >= 0) ::close(writeFd_);  // a waiting child sees the end and goes on
        if (pid_ > 0 && !waited_) Wait();
        if (readFd_ >= 0) ::close(readFd_);
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Send(char message) const { channel_.Send(message); }
    char Receive() const { return channel_.Receive(); }

    // Ends the child at once (SIGKILL: nothing of it runs any more).
    void Kill() const { ::kill(pid_, SIGKILL); }

    // The child's exit code (or 128 + signal number).
    int Wait() {
        if (waited_) return status_;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        waited_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
    }

private:
    pid_t pid_ = -1;
    Channel channel_{-1, -1};
    int readFd_ = -1;
    int writeFd_ = -1;
    bool waited_ = false;
    int status_ = 0;
};

}  // namespace pixhold::test
