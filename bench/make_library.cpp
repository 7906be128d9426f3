#include "make_library.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "child_process.h"

namespace {

constexpr uint64_t kMiB = 1 << 20;

// splitmix64: small, fast and the same on every machine.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // A value from `low` to `high`, both included.
  uint64_t between(uint64_t low, uint64_t high) {
    return low + next() % (high - low + 1);
  }

 private:
  uint64_t state_;
};

bool fail(const std::string& what, const std::string& path) {
  std::fprintf(stderr, "%s %s: %s\n", what.c_str(), path.c_str(),
               std::strerror(errno));
  return false;
}

// The text that marks a finished library and the parameters it was made
// with.
std::string readMarker(const std::string& dir) {
  std::ifstream in(dir + "/.plinkard-bench");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool writeMarker(const std::string& dir, const std::string& marker) {
  std::ofstream out(dir + "/.plinkard-bench");
  out << marker;
  return bool(out.flush());
}

// Creates `name` in the folder `dirFd`, `size` bytes long; only `text`
// is written, the rest stays a hole.
bool makeFile(int dirFd, const char* name, uint64_t size,
              const std::string& text = std::string()) {
  const int fd =
      openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return fail("create", name);
  bool ok = text.empty() ||
            write(fd, text.data(), text.size()) == ssize_t(text.size());
  if (ok && size > text.size()) ok = ftruncate(fd, off_t(size)) == 0;
  if (!ok) fail("write", name);
  close(fd);
  return ok;
}

int makeFolder(int parentFd, const char* name) {
  if (mkdirat(parentFd, name, 0755) != 0) return -1;
  return openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// An ID3v2.3 text frame of `text` in ISO-8859-1: its id, its size in
// plain big-endian bytes, no flags, the encoding byte.
void appendTextFrame(std::string& tag, const char* id,
                     const std::string& text) {
  const uint32_t size = uint32_t(text.size() + 1);
  tag.append(id, 4);
  for (int shift = 24; shift >= 0; shift -= 8) {
    tag.push_back(char(size >> shift & 0xff));
  }
  tag.append(3, '\0');
  tag.append(text);
}

// An ID3v2.3 tag with a title, an artist, an album and a track number; its
// size after the header is written in four bytes of seven bits each.
std::string id3v2Tag(const std::string& title, const std::string& artist,
                     const std::string& album, uint32_t track) {
  std::string frames;
  appendTextFrame(frames, "TIT2", title);
  appendTextFrame(frames, "TPE1", artist);
  appendTextFrame(frames, "TALB", album);
  appendTextFrame(frames, "TRCK", std::to_string(track));
  std::string tag("ID3\x03\0\0", 6);
  for (int shift = 21; shift >= 0; shift -= 7) {
    tag.push_back(char(frames.size() >> shift & 0x7f));
  }
  return tag + frames;
}

// `count` silent MPEG-1 Layer III frames, 32 kbit/s at 32 kHz, mono: a
// header and 140 zero bytes each (side information and no main data),
// 36 ms of sound a frame.
std::string silentFrames(uint32_t count) {
  std::string frame("\xff\xfb\x18\xc4", 4);
  frame.append(140, '\0');
  std::string frames;
  for (uint32_t i = 0; i < count; ++i) frames += frame;
  return frames;
}

// One album folder of `count` tagged songs of 5 to 25 frames.
bool makeTaggedAlbum(int albumFd, uint32_t count, const char* artist,
                     const char* album, Random& random) {
  char name[64];
  for (uint32_t i = 1; i <= count; ++i) {
    const uint32_t number = uint32_t(random.next() % 100000);
    std::snprintf(name, sizeof name, "%02u Song %u.mp3", i, number);
    const std::string song =
        id3v2Tag("Song " + std::to_string(number), artist, album, i) +
        silentFrames(uint32_t(random.between(5, 25)));
    if (!makeFile(albumFd, name, song.size(), song)) return false;
  }
  return true;
}

// One album folder of `count` songs with its cover and playlist.
bool makeAlbum(int albumFd, uint32_t count, Random& random) {
  std::string playlist = "#EXTM3U\n";
  char name[64];
  for (uint32_t i = 1; i <= count; ++i) {
    std::snprintf(name, sizeof name, "%02u Song %u.mp3", i,
                  uint32_t(random.next() % 100000));
    if (!makeFile(albumFd, name, random.between(2 * kMiB, 12 * kMiB - 1))) {
      return false;
    }
    playlist.append(name).append("\n");
  }
  return makeFile(albumFd, "cover.jpg", random.between(40000, 200000)) &&
         makeFile(albumFd, "playlist.m3u", playlist.size(), playlist);
}

// Makes the songs of one album: (its folder, how many, the artist's and
// the album's folder names).
using AlbumMaker = std::function<bool(int, uint32_t, const char*, const char*)>;

bool fillLibrary(int rootFd, uint32_t songs, Random& random,
                 const AlbumMaker& makeSongs) {
  char artistName[32];
  char name[32];
  uint32_t made = 0;
  for (uint32_t artist = 1; made < songs; ++artist) {
    std::snprintf(artistName, sizeof artistName, "Artist%05u", artist);
    const int artistFd = makeFolder(rootFd, artistName);
    if (artistFd < 0) return fail("mkdir", artistName);
    const uint32_t albums = uint32_t(random.between(5, 15));
    bool ok = true;
    for (uint32_t album = 1; ok && album <= albums && made < songs; ++album) {
      std::snprintf(name, sizeof name, "Album%02u", album);
      const int albumFd = makeFolder(artistFd, name);
      if (albumFd < 0) {
        ok = fail("mkdir", name);
        break;
      }
      const uint32_t count =
          std::min<uint32_t>(uint32_t(random.between(8, 12)), songs - made);
      ok = makeSongs(albumFd, count, artistName, name);
      made += count;
      close(albumFd);
    }
    close(artistFd);
    if (!ok) return false;
  }
  return true;
}

// `albums` album folders of 12 and 13 songs in turn, ten to an artist.
bool fillAlbums(int rootFd, uint32_t albums, Random& random) {
  char name[32];
  for (uint32_t album = 0; album < albums; ++album) {
    std::snprintf(name, sizeof name, "Artist%05u", album / 10 + 1);
    if (album % 10 == 0 && mkdirat(rootFd, name, 0755) != 0) {
      return fail("mkdir", name);
    }
    const int artistFd =
        openat(rootFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (artistFd < 0) return fail("open", name);
    std::snprintf(name, sizeof name, "Album%02u", album % 10 + 1);
    const int albumFd = makeFolder(artistFd, name);
    close(artistFd);
    if (albumFd < 0) return fail("mkdir", name);
    const bool ok = makeAlbum(albumFd, 12 + album % 2, random);
    close(albumFd);
    if (!ok) return false;
  }
  return true;
}

int removeEntry(const char* path, const struct stat*, int type, struct FTW*) {
  return (type == FTW_DP ? rmdir(path) : unlink(path)) == 0 ? 0 : -1;
}

// Runs `make` on a fresh temporary folder and renames it to `dir`, unless
// `dir` already carries `marker`.
template <typename Make>
bool makeOnce(const std::string& dir, const std::string& marker, Make make) {
  if (readMarker(dir) == marker) {
    std::fprintf(stderr, "Reusing %s\n", dir.c_str());
    return true;
  }
  std::fprintf(stderr, "Making %s ...\n", dir.c_str());
  const std::string temporary = dir + ".partial";
  if (!removeTree(temporary) || !removeTree(dir)) return false;
  if (mkdir(temporary.c_str(), 0755) != 0) return fail("mkdir", temporary);
  const int fd = open(temporary.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return fail("open", temporary);
  const bool ok = make(fd);
  close(fd);
  if (!ok || !writeMarker(temporary, marker)) return false;
  if (rename(temporary.c_str(), dir.c_str()) != 0) return fail("rename", dir);
  return true;
}

}  // namespace

bool removeTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (nftw(path.c_str(), removeEntry, 64, FTW_DEPTH | FTW_PHYS) != 0) {
    return fail("remove", path);
  }
  return true;
}

bool makeSongLibrary(const std::string& dir, uint32_t songs, uint64_t seed) {
  const std::string marker = "songs " + std::to_string(songs) + " seed " +
                             std::to_string(seed) + " layout 1\n";
  return makeOnce(dir, marker, [&](int fd) {
    Random random(seed);
    return fillLibrary(
        fd, songs, random,
        [&](int albumFd, uint32_t count, const char*, const char*) {
          return makeAlbum(albumFd, count, random);
        });
  });
}

bool makeTaggedLibrary(const std::string& dir, uint32_t songs, uint64_t seed) {
  const std::string marker = "tagged songs " + std::to_string(songs) +
                             " seed " + std::to_string(seed) + " layout 1\n";
  return makeOnce(dir, marker, [&](int fd) {
    Random random(seed);
    return fillLibrary(fd, songs, random,
                       [&](int albumFd, uint32_t count, const char* artist,
                           const char* album) {
                         return makeTaggedAlbum(albumFd, count, artist, album,
                                                random);
                       });
  });
}

bool makeAlbumLibrary(const std::string& dir, uint32_t albums, uint64_t seed) {
  const std::string marker = "albums " + std::to_string(albums) + " seed " +
                             std::to_string(seed) + " layout 1\n";
  return makeOnce(dir, marker, [&](int fd) {
    Random random(seed);
    return fillAlbums(fd, albums, random);
  });
}

bool makeCopyLibrary(const std::string& dir, uint32_t files, uint64_t bytes) {
  const std::string marker = "files " + std::to_string(files) + " bytes " +
                             std::to_string(bytes) + " layout 1\n";
  return makeOnce(dir, marker, [&](int fd) {
    Random random(files);
    std::vector<uint64_t> block(kMiB / sizeof(uint64_t));
    char name[32];
    for (uint32_t i = 0; i < files; ++i) {
      std::snprintf(name, sizeof name, "song-%03u.mp3", i);
      const int out =
          openat(fd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (out < 0) return fail("create", name);
      for (uint64_t done = 0; done < bytes;) {
        for (uint64_t& word : block) word = random.next();
        const size_t n = size_t(std::min<uint64_t>(kMiB, bytes - done));
        if (write(out, block.data(), n) != ssize_t(n)) {
          close(out);
          return fail("write", name);
        }
        done += n;
      }
      close(out);
    }
    return true;
  });
}

bool makeFlacLibrary(const std::string& dir, uint32_t songs, double seconds) {
  const std::string marker = "flac " + std::to_string(songs) + " seconds " +
                             std::to_string(seconds) + " layout 1\n";
  const std::string temporary = dir + ".partial";
  return makeOnce(dir, marker, [&](int) {
    for (uint32_t i = 0; i < songs; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/song-%03u.flac", i);
      // Tones that move and a little noise, different in each channel and
      // in each song: closer to music than a steady tone.
      const std::string tone = std::to_string(200 + 7 * i);
      const std::string source =
          "aevalsrc=0.2*sin(2*PI*(" + tone +
          "+20*sin(t))*t)+0.05*(random(0)-0.5)|0.2*sin(2*PI*" + tone +
          "*1.5*t)+0.05*(random(1)-0.5):s=44100:d=" + std::to_string(seconds);
      ChildOptions options;
      options.capture = false;
      const ChildResult made = runChild(
          {"ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i", source,
           "-metadata", "title=Song " + std::to_string(i), "-metadata",
           "artist=Bench", "-c:a", "flac", temporary + name},
          options);
      if (made.status != 0) return fail("ffmpeg", temporary + name);
    }
    return true;
  });
}

bool makeUsedList(const std::string& path, uint32_t lines) {
  std::string text;
  uint32_t named = 0;
  for (uint32_t i = 0; i < lines; ++i) {
    uint32_t size;
    if (i % 97 == 0 && named < 1024) {
      size = 2048 + 10 * named++;
    } else {
      size = 20000 + i;  // above every library song's 12,287 KiB
    }
    text += std::to_string(size) + "\"" + std::to_string(i % 12 + 1) +
            " Song " + std::to_string(i) + ".mp3\n";
  }
  std::ifstream existing(path, std::ios::binary);
  std::stringstream old;
  old << existing.rdbuf();
  if (old.str() == text) return true;

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) return fail("write", path);
  return true;
}

bool makePlayer(const std::string& dir, uint32_t files, uint64_t seed) {
  const std::string marker = "player " + std::to_string(files) + " seed " +
                             std::to_string(seed) + " layout 1\n";
  return makeOnce(dir, marker, [&](int fd) {
    Random random(seed);
    char name[64];
    for (uint32_t made = 0; made < files;) {
      std::snprintf(name, sizeof name, "%02u Song %u.mp3",
                    uint32_t(random.between(1, 12)),
                    uint32_t(random.next() % 100000));
      const int out =
          openat(fd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (out < 0 && errno == EEXIST) continue;
      if (out < 0) return fail("create", name);
      close(out);
      ++made;
    }
    return true;
  });
}

bool copyFolder(const std::string& from, const std::string& to) {
  if (!removeTree(to)) return false;
  if (mkdir(to.c_str(), 0755) != 0) return fail("mkdir", to);
  DIR* dir = opendir(from.c_str());
  if (dir == nullptr) return fail("open", from);
  std::vector<char> buffer(kMiB);
  bool ok = true;
  for (const struct dirent* entry; ok && (entry = readdir(dir)) != nullptr;) {
    if (entry->d_type != DT_REG) continue;
    const std::string source = from + "/" + entry->d_name;
    const std::string target = to + "/" + entry->d_name;
    const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    const int out =
        open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ssize_t n = 0;
    while (in >= 0 && out >= 0 &&
           (n = read(in, buffer.data(), buffer.size())) > 0) {
      if (write(out, buffer.data(), size_t(n)) != n) n = -1;
      if (n < 0) break;
    }
    ok = in >= 0 && out >= 0 && n == 0 ? true : fail("copy", source);
    if (in >= 0) close(in);
    if (out >= 0) close(out);
  }
  closedir(dir);
  return ok;
}
