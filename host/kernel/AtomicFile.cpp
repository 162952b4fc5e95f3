#include "host/kernel/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qel {

std::string WriteFileAtomically(const std::filesystem::path& path, std::string_view text) {
    const std::filesystem::path folder =
        path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
    std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return "cannot create a temporary file in " + folder.string() + ": " + std::strerror(errno);
    }
    auto fail = [&](const std::string& what) {
        const std::string reason = what + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(temporary.c_str());
        return reason;
    };
    struct stat existing {};
    constexpr mode_t kNewFileMode = 0644;
    const mode_t mode =
        ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : kNewFileMode;
    if (::fchmod(fd, mode) != 0) {
        return fail("cannot set the permissions of " + temporary);
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail("cannot write " + temporary);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        return fail("cannot flush " + temporary);
    }
    if (::close(fd) != 0) {
        ::unlink(temporary.c_str());
        return "cannot close " + temporary + ": " + std::strerror(errno);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = "cannot replace " + path.string() + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return reason;
    }
    if (const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY); folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return {};
}

}  // namespace qel
