#include "convert/convert_queue.h"

#include <utility>

#include "os/signals.h"

ConvertQueue::ConvertQueue(const os::HeldFolder& below, Settings settings)
    : below_(below),
      settings_(std::move(settings)),
      window_(settings_.threads + (settings_.waiting != 0
                                       ? settings_.waiting
                                       : settings_.threads)) {
  for (size_t i = 0; i < settings_.threads; ++i) {
    threads_.emplace_back([this] { work(); });
  }
}

ConvertQueue::~ConvertQueue() { stop(); }

void ConvertQueue::add(const std::string& source, const std::string& target) {
  mutex_.lock();
  songs_.emplace_back();
  songs_.back().source = source;
  songs_.back().target = target;
  mutex_.unlock();
  work_.signalAll();
}

size_t ConvertQueue::pending() {
  mutex_.lock();
  const size_t count = songs_.size();
  mutex_.unlock();
  return count;
}

ConvertResult ConvertQueue::next(
    const std::function<bool(const ConvertResult&)>& keep) {
  mutex_.lock();
  if (songs_.empty()) {
    mutex_.unlock();
    ConvertResult none;
    none.error = "No song to convert";
    return none;
  }
  Song& song = songs_.front();
  if (song.state == State::Waiting) {
    // Not begun: converted here, so the caller waits for nothing else.
    song.state = State::Running;
    mutex_.unlock();
    convert(song);
    mutex_.lock();
    song.state = State::Done;
  }
  while (song.state != State::Done) done_.wait(mutex_);
  Song taken = std::move(song);
  songs_.pop_front();
  ++handed_;
  if (begun_ < handed_) begun_ = handed_;
  mutex_.unlock();
  work_.signalAll();  // the window moved on
  if (taken.result.status == ConvertStatus::Converted && keep &&
      !keep(taken.result)) {
    taken.file.discard();
    taken.result.status = ConvertStatus::HeldBack;
  }
  placeConverted(taken.file, taken.result);
  return std::move(taken.result);
}

void ConvertQueue::stop() {
  // Set under the lock, so that no thread between its look and its wait
  // misses the signal.
  mutex_.lock();
  stopping_ = true;
  mutex_.unlock();
  work_.signalAll();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

bool ConvertQueue::stopped() const {
  return stopping_ || (settings_.stop && settings_.stop());
}

void ConvertQueue::work() {
  os::keepInterruptsFromThisThread();
  mutex_.lock();
  while (!stopping_) {
    Song* song = take();
    if (song == nullptr) {
      work_.wait(mutex_);
      continue;
    }
    mutex_.unlock();
    convert(*song);
    mutex_.lock();
    song->state = State::Done;
    done_.signalAll();
  }
  mutex_.unlock();
}

// The next song not begun within the window, now Running; null when none.
ConvertQueue::Song* ConvertQueue::take() {
  while (begun_ < handed_ + songs_.size() && begun_ < handed_ + window_) {
    Song& song = songs_[begun_ - handed_];
    ++begun_;
    if (song.state == State::Waiting) {
      song.state = State::Running;
      return &song;
    }
  }
  return nullptr;
}

void ConvertQueue::convert(Song& song) {
  if (stopped()) {
    song.result.status = ConvertStatus::Interrupted;
    return;
  }
  song.result = convertToPending(
      song.source, below_, song.target, settings_.format,
      [this] { return stopped(); }, song.file);
}
