// station-sim as a process of the test, with its port map in a folder of the test's own.
#pragma once

#include "temp_dir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace test_support {

// station-sim `sim` with `args`, its port map in `home`; killed and reaped when the object goes.
class Station {
public:
    Station(const char* sim, const TempDir& home, std::vector<std::string> args)
        : out_(home.path() + "/sim" + std::to_string(++started_) + ".out") {
        std::vector<std::string> env = {"XDG_CONFIG_HOME=" + home.path()};
        for (char** e = environ; *e; ++e)
            if (std::string_view(*e).rfind("XDG_CONFIG_HOME=", 0) != 0)
                env.emplace_back(*e);
        args.insert(args.begin(), sim);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        auto argv = pointers(args);
        auto envp = pointers(env);
        if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    ~Station() {
        if (pid_ > 0 && !ended()) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    std::string out() const {
        std::ifstream in(out_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // True once it says that its link is in place.
    bool wait_started() {
        using namespace std::chrono;
        for (const auto end = steady_clock::now() + seconds(5); steady_clock::now() < end;) {
            if (out().find("station-sim: COM") != std::string::npos)
                return true;
            if (ended())
                return false;
            std::this_thread::sleep_for(milliseconds(5));
        }
        return false;
    }
    bool wait_ended() {
        using namespace std::chrono;
        for (const auto end = steady_clock::now() + seconds(5); steady_clock::now() < end;) {
            if (ended())
                return true;
            std::this_thread::sleep_for(milliseconds(5));
        }
        return false;
    }

private:
    static std::vector<char*> pointers(std::vector<std::string>& v) {
        std::vector<char*> p;
        for (auto& s : v)
            p.push_back(s.data());
        p.push_back(nullptr);
        return p;
    }
    bool ended() {
        if (!ended_ && pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_)
            ended_ = true;
        return ended_ || pid_ <= 0;
    }

    static inline int started_ = 0;
    std::string out_;
    pid_t pid_ = -1;
    bool ended_ = false;
};

} // namespace test_support
