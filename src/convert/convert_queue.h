#ifndef PLINKARD_CONVERT_CONVERT_QUEUE_H_
#define PLINKARD_CONVERT_CONVERT_QUEUE_H_

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "convert/convert_format.h"
#include "convert/converter.h"
#include "os/files.h"
#include "os/held_folder.h"
#include "os/mutex.h"
#include "os/pending_file.h"

// Converts songs ahead of the caller, several at once, and hands the results
// back strictly in the order the songs were added: each converted song is
// given its name when the caller takes its result, so songs land in that
// order. No thread is seen outside; they start with the object and are
// stopped and joined at stop() or when it goes.
class ConvertQueue {
 public:
  struct Settings {
    ConvertFormat format;
    // Songs converted at once; 0: none ahead, next() converts each itself.
    size_t threads = os::usableProcessors();
    // Songs converted and waiting for the caller, at most, besides those
    // being converted: each takes room in its target's folder under its
    // temporary name until then. 0: as many as `threads`.
    size_t waiting = 0;
    // Asked often from every thread; true stops the conversions.
    std::function<bool()> stop;
  };

  // `below` (see convertSong) must outlive the object.
  ConvertQueue(const os::HeldFolder& below, Settings settings);
  ~ConvertQueue();
  ConvertQueue(const ConvertQueue&) = delete;
  ConvertQueue& operator=(const ConvertQueue&) = delete;

  // Adds a song to convert from `source` to `target` (see convertSong).
  void add(const std::string& source, const std::string& target)
      LOCKS_EXCLUDED(mutex_);
  // Songs added and not handed back yet.
  size_t pending() LOCKS_EXCLUDED(mutex_);
  // The result of the oldest song not handed back, waiting for it (or
  // converting it on this thread when no thread has begun it); a converted
  // song is at its target's name on return. At least one song must be
  // pending. A converted song that `keep` (called on this thread with its
  // result) refuses is not put in place: its temporary file goes and it
  // comes back HeldBack.
  ConvertResult next(const std::function<bool(const ConvertResult&)>& keep =
                         nullptr) LOCKS_EXCLUDED(mutex_);
  // Stops: a song being converted stops at its next check and a song not
  // begun is not; next() hands back Interrupted for both. Their temporary
  // files are gone.
  void stop() LOCKS_EXCLUDED(mutex_);

 private:
  enum class State { Waiting, Running, Done };
  // One song. `state` is guarded by `mutex_`; the other fields belong to
  // whoever set it to Running, until it is Done, and then to next().
  struct Song {
    std::string source;
    std::string target;
    State state = State::Waiting;
    ConvertResult result;
    os::PendingFile file;
  };

  void work() LOCKS_EXCLUDED(mutex_);
  Song* take() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void convert(Song& song);
  bool stopped() const;

  const os::HeldFolder& below_;
  const Settings settings_;
  const size_t window_;  // songs begun ahead of the oldest pending one
  std::atomic<bool> stopping_{false};

  os::Mutex mutex_;
  os::CondVar work_;  // a song to take, or stop
  os::CondVar done_;  // a song done
  // Pending songs, oldest first; references stay valid as songs are added.
  std::deque<Song> songs_ GUARDED_BY(mutex_);
  size_t handed_ GUARDED_BY(mutex_) = 0;  // songs handed back so far
  size_t begun_ GUARDED_BY(mutex_) = 0;   // songs taken by threads so far
  std::vector<std::thread> threads_;
};

#endif  // PLINKARD_CONVERT_CONVERT_QUEUE_H_
