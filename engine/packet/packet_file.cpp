// Packet files on disk.
#include "packet/packet_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "large_block.h"

namespace zelvo {

namespace {

std::string Failure(const char* what, const std::string& path) {
  return std::string(what) + " \"" + path + "\": " + std::strerror(errno);
}

}  // namespace

bool ReadPacketFile(const std::string& path, PacketBytes* bytes, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = Failure("Cannot open file", path);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (errno == 0) errno = EISDIR;
    *error = Failure("Cannot read file", path);
    ::close(fd);
    return false;
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  auto* data = static_cast<std::uint8_t*>(LargeAlloc(size));
  if (data == nullptr) {
    errno = ENOMEM;
    *error = Failure("Cannot read file", path);
    ::close(fd);
    return false;
  }
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;  // the file shrank while it was read
      *error = Failure("Cannot read file", path);
      LargeFree(data, size);
      ::close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  *bytes = PacketBytes(data, size, size);
  return true;
}

bool WritePacketFile(const std::string& path, const void* data, std::size_t size,
                     std::string* error) {
  const std::string temp = path + ".saving";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = Failure("Unable to write to", path);
    return false;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  const int saved_errno = errno;
  ok = (::close(fd) == 0) && ok;
  if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  errno = saved_errno != 0 ? saved_errno : errno;
  *error = Failure("Unable to write to", path);
  ::unlink(temp.c_str());
  return false;
}

}  // namespace zelvo
