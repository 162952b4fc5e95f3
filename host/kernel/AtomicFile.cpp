#include "host/kernel/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <random>
#include <system_error>

namespace qel {
namespace {

namespace fs = std::filesystem;

// As many links in a row as the system itself follows before it gives up.
constexpr int kMaxLinkHops = 40;
// A temporary file is named "." + the target's name + "." + this many letters or digits.
constexpr std::size_t kTemporarySuffixLength = 6;
constexpr std::string_view kSuffixAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// Tries at a free temporary name before giving up.
constexpr int kNameAttempts = 100;
constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kPrivateMode = 0600;

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// The file the path names: a save writes through symbolic links and keeps them.
std::optional<fs::path> FollowLinks(const fs::path& path, std::string& error) {
    fs::path target = path;
    for (int hop = 0;; ++hop) {
        std::error_code code;
        if (!fs::is_symlink(fs::symlink_status(target, code))) {
            return target;
        }
        if (hop == kMaxLinkHops) {
            error = "cannot save " + path.string() + ": too many symbolic links";
            return std::nullopt;
        }
        const fs::path link = fs::read_symlink(target, code);
        if (code) {
            error = "cannot read the link " + target.string() + ": " + code.message();
            return std::nullopt;
        }
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
}

std::string TemporaryPrefix(const fs::path& target) {
    return "." + target.filename().string() + ".";
}

bool IsTemporaryOf(std::string_view entry, std::string_view prefix) {
    if (entry.size() != prefix.size() + kTemporarySuffixLength || !entry.starts_with(prefix)) {
        return false;
    }
    return entry.substr(prefix.size()).find_first_not_of(kSuffixAlphabet) == std::string::npos;
}

// Seeded afresh each time: a forked process must not repeat its parent's names.
std::string RandomSuffix() {
    std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kSuffixAlphabet.size() - 1);
    std::string suffix;
    for (std::size_t i = 0; i < kTemporarySuffixLength; ++i) {
        suffix += kSuffixAlphabet[pick(generator)];
    }
    return suffix;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes what earlier saves of the target left when they were killed before their rename: our
// temporaries (our name pattern, our user, a regular file) written before this save began that no
// writer holds locked any more. A writer holds its temporary locked until it has renamed it, and a
// lock ends with its process, so a live save's temporary is never taken.
void RemoveStaleTemporaries(const fs::path& folder, const fs::path& target,
                            const struct timespec& saveStart) {
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) {
        return;
    }
    const std::string prefix = TemporaryPrefix(target);
    while (const dirent* entry = ::readdir(directory)) {
        if (!IsTemporaryOf(entry->d_name, prefix)) {
            continue;
        }
        const int fd = ::openat(::dirfd(directory), entry->d_name,
                                O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        struct stat opened {};
        struct stat named {};
        const bool older = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                           opened.st_uid == ::geteuid() &&
                           (opened.st_mtim.tv_sec < saveStart.tv_sec ||
                            (opened.st_mtim.tv_sec == saveStart.tv_sec &&
                             opened.st_mtim.tv_nsec <= saveStart.tv_nsec));
        if (older && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(::dirfd(directory), entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(opened, named)) {
            ::unlinkat(::dirfd(directory), entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(directory);
}

// A temporary file beside the target, open for writing and locked: first without a name (a save
// killed while writing leaves nothing), named only once it is whole. Where the file system has no
// unnamed files, a named one.
struct Temporary {
    int fd = -1;
    bool named = false;
    std::string path;
};

std::string OpenNamedTemporary(const fs::path& folder, const fs::path& target,
                               Temporary& temporary) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string path = (folder / (TemporaryPrefix(target) + RandomSuffix())).string();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateMode);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return SystemError("cannot create a temporary file in " + folder.string());
        }
        // Another save may have taken the new file for a stale one between its creation and the
        // lock; then it is gone, and the next name is tried.
        struct stat opened {};
        struct stat named {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 &&
            ::lstat(path.c_str(), &named) == 0 && SameFile(opened, named)) {
            temporary = {fd, true, std::move(path)};
            return {};
        }
        ::close(fd);
    }
    return "cannot create a temporary file in " + folder.string() + ": no free name";
}

std::string OpenTemporary(const fs::path& folder, const fs::path& target, Temporary& temporary) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, kPrivateMode);
    if (fd >= 0) {
        ::flock(fd, LOCK_EX);
        temporary = {fd, false, {}};
        return {};
    }
    return OpenNamedTemporary(folder, target, temporary);
}

// Gives the unnamed temporary a name beside the target, just before the rename.
std::string NameTemporary(const fs::path& folder, const fs::path& target, Temporary& temporary) {
    if (temporary.named) {
        return {};
    }
    const std::string self = "/proc/self/fd/" + std::to_string(temporary.fd);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string path = (folder / (TemporaryPrefix(target) + RandomSuffix())).string();
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temporary.named = true;
            temporary.path = std::move(path);
            return {};
        }
        if (errno != EEXIST) {
            return SystemError("cannot name the temporary file in " + folder.string());
        }
    }
    return "cannot name the temporary file in " + folder.string() + ": no free name";
}

std::string WriteAll(int fd, std::string_view text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return SystemError("cannot write the temporary file");
        }
        written += static_cast<std::size_t>(n);
    }
    return {};
}

}  // namespace

std::string WriteFileAtomically(const std::filesystem::path& path, std::string_view text) {
    struct timespec saveStart {};
    ::clock_gettime(CLOCK_REALTIME, &saveStart);
    std::string error;
    const std::optional<fs::path> target = FollowLinks(path, error);
    if (!target) {
        return error;
    }
    const fs::path folder = target->parent_path().empty() ? fs::path(".") : target->parent_path();
    RemoveStaleTemporaries(folder, *target, saveStart);

    Temporary temporary;
    if (error = OpenTemporary(folder, *target, temporary); !error.empty()) {
        return error;
    }
    auto fail = [&temporary](const std::string& reason) {
        if (temporary.named) {
            ::unlink(temporary.path.c_str());
        }
        ::close(temporary.fd);
        return reason;
    };
    struct stat existing {};
    const mode_t mode =
        ::stat(target->c_str(), &existing) == 0 ? (existing.st_mode & 07777) : kNewFileMode;
    if (::fchmod(temporary.fd, mode) != 0) {
        return fail(SystemError("cannot set the permissions of the temporary file"));
    }
    if (error = WriteAll(temporary.fd, text); !error.empty()) {
        return fail(error);
    }
    if (::fsync(temporary.fd) != 0) {
        return fail(SystemError("cannot flush the temporary file"));
    }
    if (error = NameTemporary(folder, *target, temporary); !error.empty()) {
        return fail(error);
    }
    if (::rename(temporary.path.c_str(), target->c_str()) != 0) {
        return fail(SystemError("cannot replace " + target->string()));
    }
    // The lock ends with the close, after the rename: no other save takes the file for stale.
    if (::close(temporary.fd) != 0) {
        return SystemError("cannot close " + target->string());
    }
    if (const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return {};
}

}  // namespace qel
