// For tests of what file permissions refuse. Root passes every permission check, so such a test
// started as root runs itself again as the user "nobody" and reports that run's result; it is
// never skipped. The program is copied into a fresh folder that user owns, which is also its
// TMPDIR, and the folder is removed afterwards.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kalder::test {

// -1 when not root: the caller runs its tests itself. Otherwise the exit status of the run as
// "nobody" (1 when that run could not be made).
inline int rerunUnprivileged(int argc, char** argv)
{
    namespace fs = std::filesystem;
    if (::geteuid() != 0)
        return -1;
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) {
        std::fputs("no user \"nobody\" to run the test as\n", stderr);
        return 1;
    }
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    std::string folder = (fs::temp_directory_path() / "kalder-unprivileged-XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path program = fs::path(folder) / fs::read_symlink("/proc/self/exe").filename();
    std::error_code error;
    fs::copy_file("/proc/self/exe", program, error);
    if (error || ::chown(folder.c_str(), uid, gid) != 0 || ::chmod(folder.c_str(), 0755) != 0 ||
        ::chmod(program.c_str(), 0755) != 0) {
        std::fprintf(stderr, "cannot prepare %s: %s\n", folder.c_str(),
                     error ? error.message().c_str() : "chown/chmod");
        fs::remove_all(folder, error);
        return 1;
    }
    std::vector<char*> args{const_cast<char*>(program.c_str())};
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("TMPDIR", folder.c_str(), 1);
        ::setenv("HOME", folder.c_str(), 1);
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
            std::perror("dropping root");
            ::_exit(1);
        }
        ::execv(program.c_str(), args.data());
        std::perror("execv");
        ::_exit(1);
    }
    int status = 0;
    const bool waited = child > 0 && ::waitpid(child, &status, 0) == child;
    fs::remove_all(folder, error);
    return waited && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace kalder::test
