// The child the process runner's tests start: does what its first argument says.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

[[gnu::noinline]] void WriteThroughNull() {
  volatile int* volatile target = nullptr;
  *target = 1;
}

int main(int argc, char** argv) {
  if (argc < 2) return 100;
  const std::string what = argv[1];
  if (what == "echo") {
    // Every further argument on a line of its own, as it arrived.
    for (int i = 2; i < argc; ++i) std::printf("%s\n", argv[i]);
    std::fprintf(stderr, "to stderr\n");
    return argc - 2;
  }
  if (what == "flood") {
    // More than a pipe holds, before the child ends.
    std::string block(65536, 'x');
    for (int i = 0; i < std::atoi(argv[2]); ++i) std::fwrite(block.data(), 1, block.size(), stdout);
    return 0;
  }
  if (what == "crash") {
    std::printf("before\n");
    std::fflush(stdout);
    WriteThroughNull();
    return 0;
  }
  if (what == "hang") {
    std::printf("waiting\n");
    std::fflush(stdout);
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  if (what == "close-and-hang") {
    // Its end of the pipe closed, it runs on.
    std::fclose(stdout);
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  return 101;
}
