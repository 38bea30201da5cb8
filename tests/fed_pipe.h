// A pipe whose write end is fed by a thread; the reader owns the read end.
#ifndef ZEMIVTC_TESTS_FED_PIPE_H
#define ZEMIVTC_TESTS_FED_PIPE_H

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>

struct FedPipe {
  int readEnd = -1;
  std::thread feeder;
  explicit FedPipe(std::string data) {
    signal(SIGPIPE, SIG_IGN);  // the reader may stop early
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    readEnd = fds[0];
    feeder = std::thread([fd = fds[1], data = std::move(data)] {
      size_t done = 0;
      while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      close(fd);
    });
  }
  ~FedPipe() { feeder.join(); }
};

#endif
