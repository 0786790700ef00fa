// The main of every test program. Run as usual it is GoogleTest's own. With
// KESTRUNE_TEST_RESULTS naming a file, it also writes each test's result there as it ends, so
// that one run of the program can stand for one result per test (tests/run), and it ends the
// program when a test runs past KESTRUNE_TEST_TIMEOUT seconds (300 unless set), writing that
// test down as timed out: the run that takes it up again leaves out what has ended.
//
// The file's lines: "start NAME", "text NAME LINE" (a failure's message, line by line),
// "end NAME passed|failed|skipped|timed_out", and "finished" once the program has run all
// that its filter asked for.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace {

class results_listener final : public testing::EmptyTestEventListener {
public:
    results_listener(std::FILE* file, int timeout_seconds)
        : file_(file), timeout_(timeout_seconds), watchdog_([this] { watch(); }) {}
    ~results_listener() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        woken_.notify_one();
        watchdog_.join();
        std::fclose(file_);
    }
    results_listener(const results_listener&) = delete;
    results_listener& operator=(const results_listener&) = delete;

    void OnTestStart(const testing::TestInfo& info) override {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = name_of(info);
        started_ = std::chrono::steady_clock::now();
        write("start " + running_);
    }

    void OnTestPartResult(const testing::TestPartResult& result) override {
        if (!result.failed()) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        std::string where = result.file_name() != nullptr ? result.file_name() : "";
        if (!where.empty()) {
            where += ":" + std::to_string(result.line_number()) + ": ";
        }
        std::string text = where + (result.message() != nullptr ? result.message() : "");
        std::size_t begin = 0;
        while (begin <= text.size()) {
            std::size_t end = text.find('\n', begin);
            if (end == std::string::npos) {
                end = text.size();
            }
            write("text " + running_ + " " + text.substr(begin, end - begin));
            begin = end + 1;
        }
    }

    void OnTestEnd(const testing::TestInfo& info) override {
        const testing::TestResult& result = *info.result();
        const char* outcome = result.Skipped() ? "skipped" : result.Failed() ? "failed" : "passed";
        std::lock_guard<std::mutex> lock(mutex_);
        write("end " + name_of(info) + " " + outcome);
        running_.clear();
    }

    void OnTestProgramEnd(const testing::UnitTest&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        write("finished");
    }

private:
    static std::string name_of(const testing::TestInfo& info) {
        return std::string(info.test_suite_name()) + "." + info.name();
    }

    // Each line is on disk before the test goes on, so that a test that ends the process
    // leaves every line before it.
    void write(const std::string& line) {
        std::fprintf(file_, "%s\n", line.c_str());
        std::fflush(file_);
    }

    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!done_) {
            if (!running_.empty() &&
                std::chrono::steady_clock::now() - started_ > std::chrono::seconds(timeout_)) {
                write("text " + running_ + " ran past " + std::to_string(timeout_) +
                      " s: the program was ended");
                write("end " + running_ + " timed_out");
                std::_Exit(124);
            }
            woken_.wait_for(lock, std::chrono::seconds(1));
        }
    }

    std::FILE* file_;
    int timeout_;
    std::mutex mutex_;
    std::condition_variable woken_;
    std::string running_;
    std::chrono::steady_clock::time_point started_;
    bool done_ = false;
    std::thread watchdog_; // last: it starts once everything it reads is made
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const char* results = std::getenv("KESTRUNE_TEST_RESULTS");
    if (results == nullptr || results[0] == '\0') {
        return RUN_ALL_TESTS();
    }
    // Binary: every line ends in "\n" alone, on Windows too.
    std::FILE* file = std::fopen(results, "ab");
    if (file == nullptr) {
        std::fprintf(stderr, "can't open %s\n", results);
        return 2;
    }
    const char* limit = std::getenv("KESTRUNE_TEST_TIMEOUT");
    int seconds = limit != nullptr ? std::atoi(limit) : 0;
    auto* listener = new results_listener(file, seconds > 0 ? seconds : 300);
    testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
    listeners.Append(listener);
    int status = RUN_ALL_TESTS();
    // Ours again, so that its watchdog ends here rather than among the static destructors.
    delete listeners.Release(listener);
    return status;
}
