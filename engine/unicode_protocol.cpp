#include "unicode_protocol.h"

#include "ff_ptr.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool ValidUtf8(const std::string &S) {
  const auto *p = reinterpret_cast<const unsigned char *>(S.data());
  const auto *e = p + S.size();
  while (p < e) {
    unsigned c = *p;
    int n;
    unsigned min;
    if (c < 0x80) {
      ++p;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1, min = 0x80, c &= 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2, min = 0x800, c &= 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3, min = 0x10000, c &= 0x07;
    } else {
      return false;
    }
    if (e - p <= n)
      return false;
    for (int i = 1; i <= n; ++i) {
      if ((p[i] & 0xC0) != 0x80)
        return false;
      c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
      return false;
    p += n + 1;
  }
  return true;
}

bool IsSchemeText(const std::string &S) {
  if (S.empty())
    return false;
  for (char c : S)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
          c == '-' || c == '.'))
      return false;
  return true;
}

struct TUnicodeFile {
  int Fd = -1;
};

int UnicodeRead(void *AOpaque, uint8_t *ABuf, int ASize) {
  auto *f = static_cast<TUnicodeFile *>(AOpaque);
  ssize_t n;
  do {
    n = ::read(f->Fd, ABuf, static_cast<size_t>(ASize));
  } while (n < 0 && errno == EINTR);
  if (n < 0)
    return AVERROR(errno);
  return n == 0 ? AVERROR_EOF : static_cast<int>(n);
}

int UnicodeWrite(void *AOpaque, uint8_t *ABuf, int ASize) {
  auto *f = static_cast<TUnicodeFile *>(AOpaque);
  int done = 0;
  while (done < ASize) {
    ssize_t n = ::write(f->Fd, ABuf + done, static_cast<size_t>(ASize - done));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return n < 0 ? AVERROR(errno) : AVERROR(EIO);
    done += static_cast<int>(n);
  }
  return done;
}

int64_t UnicodeSeek(void *AOpaque, int64_t APos, int AWhence) {
  auto *f = static_cast<TUnicodeFile *>(AOpaque);
  if (AWhence == AVSEEK_SIZE) {
    struct stat st;
    return fstat(f->Fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
  }
  off_t r = lseek(f->Fd, APos, AWhence & ~AVSEEK_FORCE);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

bool IsUnicodeIO(const AVIOContext *APB) {
  return APB != nullptr && (APB->read_packet == UnicodeRead || APB->write_packet == UnicodeWrite);
}

// Opens the file behind a "unicode:utf8:" URL as an I/O context.
int OpenUnicodeIO(const std::string &AURL, bool AWrite, AVIOContext **APB) {
  const std::string name = URLToFileName(AURL);
  const int fd = AWrite ? ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)
                        : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return AVERROR(ENOENT);
  const int size = 64 * 1024;
  auto *buffer = static_cast<uint8_t *>(av_malloc(size));
  auto *file = new TUnicodeFile{fd};
  AVIOContext *pb = buffer ? avio_alloc_context(buffer, size, AWrite ? 1 : 0, file,
                                                AWrite ? nullptr : UnicodeRead,
                                                AWrite ? UnicodeWrite : nullptr, UnicodeSeek)
                           : nullptr;
  if (pb == nullptr) {
    av_free(buffer);
    ::close(fd);
    delete file;
    return AVERROR(ENOMEM);
  }
  *APB = pb;
  return 0;
}

} // namespace

bool IsUnicodeName(const std::string &AFileName) {
  const size_t colon = AFileName.find(':');
  std::string scheme;
  if (colon != std::string::npos) {
    scheme = AFileName.substr(0, colon);
    const std::string probe = ":" + scheme + ":";
    if (std::string(":unicode:stream:gopher:http:pipe:rtp:tcp:udp:").find(probe) !=
        std::string::npos)
      return false;
  }
  // The libraries would take "word:rest" as a URL of an unknown protocol.
  return !ValidUtf8(AFileName) || (colon != std::string::npos && IsSchemeText(scheme));
}

std::string FileNameToURL(const std::string &AFileName) {
  return IsUnicodeName(AFileName) ? UnicodeURLPrefix + AFileName : AFileName;
}

bool IsUnicodeURL(const std::string &AURL) {
  const size_t n = std::strlen(UnicodeURLPrefix);
  return AURL.size() > n && AURL.compare(0, n, UnicodeURLPrefix) == 0;
}

std::string URLToFileName(const std::string &AURL) {
  if (!IsUnicodeURL(AURL))
    return AURL;
  return AURL.substr(std::strlen(UnicodeURLPrefix));
}

void RegisterUnicodeProtocol() {}

int FFOpenInput(AVFormatContext **ACtx, const std::string &AURL, const AVInputFormat *AFormat,
                AVDictionary **AOptions) {
  if (!IsUnicodeURL(AURL))
    return avformat_open_input(ACtx, AURL.c_str(), AFormat, AOptions);
  if (*ACtx == nullptr && (*ACtx = avformat_alloc_context()) == nullptr)
    return AVERROR(ENOMEM);
  AVIOContext *pb = nullptr;
  int ret = OpenUnicodeIO(AURL, false, &pb);
  if (ret < 0) {
    avformat_free_context(*ACtx);
    *ACtx = nullptr;
    return ret;
  }
  (*ACtx)->pb = pb;
  (*ACtx)->flags |= AVFMT_FLAG_CUSTOM_IO;
  ret = avformat_open_input(ACtx, AURL.c_str(), AFormat, AOptions);
  if (ret < 0)
    FFCloseIO(&pb); // the library freed the format context but leaves custom I/O to us
  return ret;
}

int FFOpenOutputIO(AVFormatContext *AOut, const std::string &AURL, AVDictionary **AOptions) {
  if (!IsUnicodeURL(AURL))
    return avio_open2(&AOut->pb, AURL.c_str(), AVIO_FLAG_WRITE, &AOut->interrupt_callback,
                      AOptions);
  int ret = OpenUnicodeIO(AURL, true, &AOut->pb);
  if (ret >= 0)
    AOut->flags |= AVFMT_FLAG_CUSTOM_IO;
  return ret;
}

void FFCloseIO(AVIOContext **APB) {
  if (*APB == nullptr)
    return;
  if (!IsUnicodeIO(*APB)) {
    avio_closep(APB);
    return;
  }
  AVIOContext *pb = *APB;
  if (pb->write_flag)
    avio_flush(pb);
  auto *file = static_cast<TUnicodeFile *>(pb->opaque);
  ::close(file->Fd);
  delete file;
  av_freep(&pb->buffer);
  avio_context_free(APB);
}

void InputFormatContextDeleter::operator()(AVFormatContext *c) const {
  AVIOContext *custom = (c->flags & AVFMT_FLAG_CUSTOM_IO) && IsUnicodeIO(c->pb) ? c->pb : nullptr;
  avformat_close_input(&c);
  FFCloseIO(&custom);
}

void OutputFormatContextDeleter::operator()(AVFormatContext *c) const {
  if (c->oformat == nullptr || !(c->oformat->flags & AVFMT_NOFILE))
    FFCloseIO(&c->pb);
  avformat_free_context(c);
}
