#include "sha256-file.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const size_t kChunk = 1 << 20;

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            close(fd);
    }
};

// The worker thread that hashes ends soon after: OpenSSL's state for the
// thread is released when the hash is done, not left to the thread's end,
// which OpenSSL does not see for threads it did not make.
struct ThreadStateRelease {
    ~ThreadStateRelease() { OPENSSL_thread_stop(); }
};

std::string SystemError(const char* call)
{
    return std::string(call) + ": " + std::strerror(errno);
}

}  // namespace

bool Sha256File(const ustring& path, std::string* digest, std::string* error)
{
    FdCloser file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        ThreadStateRelease release;
        *error = SystemError("open");
        return false;
    }
    return Sha256Descriptor(file.fd, digest, error);
}

bool Sha256Descriptor(int fd, std::string* digest, std::string* error)
{
    ThreadStateRelease release;
#ifdef POSIX_FADV_SEQUENTIAL
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        *error = "EVP_DigestInit_ex failed";
        return false;
    }
    std::vector<unsigned char> buffer(kChunk);
    off_t offset = 0;
    for (;;) {
        const ssize_t n = pread(fd, buffer.data(), buffer.size(), offset);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = SystemError("read");
            return false;
        }
        offset += n;
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(n)) != 1) {
            *error = "EVP_DigestUpdate failed";
            return false;
        }
    }
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), value, &length) != 1) {
        *error = "EVP_DigestFinal_ex failed";
        return false;
    }
    static const char kHex[] = "0123456789abcdef";
    digest->clear();
    for (unsigned int i = 0; i < length; ++i) {
        *digest += kHex[value[i] >> 4];
        *digest += kHex[value[i] & 0xf];
    }
    return true;
}
