#include "index/read_ahead.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "os/signals.h"

// Where a folder stands in depth-first order: its index in its parent's
// listing, below the parent's position.
// cppcheck does not see the uses in Later, through pointers.
struct ReadAhead::Position {
  size_t index;  // cppcheck-suppress unusedStructMember
  size_t depth;  // cppcheck-suppress unusedStructMember
  std::shared_ptr<const Position> up;
};

// The ids of the folders on one path, the deepest first.
struct ReadAhead::Trail {
  os::FileId id;
  std::shared_ptr<const Trail> up;
};

namespace {

constexpr size_t kNoChunk = static_cast<size_t>(-1);
// Statuses read by one job: the first chunk of a folder is read by whoever
// listed it, the others by any thread.
constexpr size_t kChunk = 16;
// Fewer while every request waits for its answer, so that a folder's songs
// are asked about at once.
constexpr size_t kSlowChunk = 2;
// When more than this share of the requests has to wait for its answer (a
// round trip, a seek), every thread may work, until it drops below the
// second: on a cold disk one read serves many requests of a folder.
constexpr double kSlowWaits = 0.02;
constexpr double kFastWaits = 0.002;
constexpr unsigned kSampleEvery = 8;
constexpr unsigned kSpins = 32;
constexpr std::chrono::microseconds kSpin(2);
// How long the walk waits before it looks at the interrupt note again.
constexpr std::chrono::milliseconds kWalkWait(20);

// Whether the requests of the job at hand on this thread are counted, and
// how many of them waited.
thread_local bool sampling = false;
thread_local uint64_t sampledWaits = 0;

// Counts the waits of the requests made while it lives.
class Sample {
 public:
  Sample() : before_(sampling ? os::threadWaits() : 0) {}
  ~Sample() {
    if (sampling) sampledWaits += os::threadWaits() - before_;
  }
  Sample(const Sample&) = delete;
  Sample& operator=(const Sample&) = delete;

 private:
  uint64_t before_;
};

bool onTrail(const ReadAhead::Trail* trail, const os::FileId& id) {
  for (; trail != nullptr; trail = trail->up.get()) {
    if (trail->id == id) return true;
  }
  return false;
}

}  // namespace

bool hasExtension(const std::vector<std::string>& extensions,
                  std::string_view name) {
  const size_t dot = name.rfind('.');
  const std::string_view extension =
      dot == std::string_view::npos ? std::string_view() : name.substr(dot);
  return std::any_of(extensions.begin(), extensions.end(),
                     [&](const std::string& e) { return e == extension; });
}

// Whether `a` is to be done after `b`: later in depth-first order (a folder
// before everything below it), or the same place queued later.
bool ReadAhead::Later::operator()(const Job& a, const Job& b) const {
  const Position* x = a.position.get();
  const Position* y = b.position.get();
  if (x == y) return a.sequence > b.sequence;
  while (x->depth > y->depth) x = x->up.get();
  while (y->depth > x->depth) y = y->up.get();
  if (x == y) return a.position->depth > b.position->depth;
  while (x->up != y->up) {
    x = x->up.get();
    y = y->up.get();
  }
  return x->index > y->index;
}

ReadAhead::ReadAhead(Settings settings) : settings_(std::move(settings)) {
  claims_.reserve(1024);
  // The walk keeps one processor busy itself.
  processors_ = std::min(settings_.threads, os::usableProcessors() - 1);
  allowed_ = processors_;
  for (size_t i = 0; i < settings_.threads; ++i) {
    threads_.emplace_back([this] { work(); });
  }
}

ReadAhead::~ReadAhead() { stop(); }

void ReadAhead::stop() {
  {
    Lock lock(mutex_);
    stopping_ = true;
  }
  workReady_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  Lock lock(mutex_);
  queue_ = {};
}

bool ReadAhead::stopped() const {
  return stopping_ || os::interruptSignal() != 0;
}

void ReadAhead::work() {
  os::keepInterruptsFromThisThread();
  Lock lock(mutex_);
  while (!stopped()) {
    if (!queue_.empty() && active_ < allowed_ && ready(queue_.top())) {
      const Job job = queue_.top();
      queue_.pop();
      ++active_;
      measured([&] { return runJob(job, lock); });
      --active_;
      continue;
    }
    ++idle_;
    workReady_.wait(lock);
    --idle_;
  }
}

// An open waits while as many folders as allowed are held open ahead;
// everything else (a chunk of statuses, a job done already) can go.
bool ReadAhead::ready(const Job& job) const {
  return job.parent == nullptr || job.folder->open != Folder::Step::Waiting ||
         heldAhead_ < settings_.openAhead;
}

// Runs `run`, which makes some requests and returns how many, and now and
// then notes how many of them had to wait for their answer (not for the
// lock: only the requests themselves are timed, by `Sample`).
template <typename Run>
void ReadAhead::measured(Run run) {
  const bool sample = !threads_.empty() && samples_++ % kSampleEvery == 0;
  sampling = sample;
  sampledWaits = 0;
  const size_t requests = run();
  sampling = false;
  if (sample) noteWaits(sampledWaits, requests);
}

void ReadAhead::noteWaits(uint64_t waits, size_t requests) {
  if (requests == 0) return;
  const double share =
      static_cast<double>(waits) / static_cast<double>(requests);
  waitShare_ += (share - waitShare_) / 16;
  const bool slow = allowed_ == settings_.threads && settings_.threads > 0;
  const size_t allowed = waitShare_ > (slow ? kFastWaits : kSlowWaits)
                             ? settings_.threads
                             : processors_;
  if (allowed > allowed_) workReady_.notify_all();
  allowed_ = allowed;
}

// Runs the job and returns about how many requests it made.
size_t ReadAhead::runJob(const Job& job, Lock& lock) {
  if (job.parent == nullptr) {
    return runChunk(job.folder, job.chunk, lock);
  }
  Folder& folder = *job.folder;
  Folder& parent = *job.parent;
  if (folder.open != Folder::Step::Waiting) return 0;
  if (parent.closed || declines(folder)) {
    folder.open = Folder::Step::Declined;
    return 0;
  }
  folder.open = Folder::Step::Running;
  folder.counted = true;
  ++heldAhead_;
  ++parent.busy;
  lock.unlock();
  openFolder(folder, &parent);
  lock.lock();
  --parent.busy;
  folder.open = Folder::Step::Done;
  if (folder.openError) uncount(folder);
  wakeWalk();
  if (wantsListing(folder) && !stopped() && claim(job.folder, false)) {
    return 2 + listNow(job.folder, lock);
  }
  return 2;
}

// What the walk would not open on the path the folder was first met by.
bool ReadAhead::declines(const Folder& folder) const {
  return folder.depth >= settings_.depthLimit ||
         folder.text.size() > settings_.textLimit ||
         (folder.viaLink && onTrail(folder.above.get(), folder.linkTarget));
}

// What the walk would list on that path, unless another path lists it.
bool ReadAhead::wantsListing(const Folder& folder) const {
  return !folder.openError && !folder.identifyError &&
         folder.list == Folder::Step::Waiting && !folder.sameAs &&
         !(settings_.haveOutput && folder.id == settings_.output) &&
         !onTrail(folder.above.get(), folder.id);
}

// Makes `folder` the path whose listing serves its folder, unless another
// path has that role already (then it serves `folder` too). The walk lists
// a folder whose listing went already; the read-ahead does not.
bool ReadAhead::claim(const Shared& folder, bool forWalk) {
  const auto found = claims_.find(folder->id);
  if (found != claims_.end()) {
    const Shared other = found->second.lock();
    if (other && other != folder) {
      folder->sameAs = other;
      return false;
    }
    if (!other && !forWalk) return false;
  }
  claims_[folder->id] = folder;
  return true;
}

size_t ReadAhead::listNow(const Shared& folder, Lock& lock) {
  folder->list = Folder::Step::Running;
  const size_t perChunk = allowed_ == settings_.threads ? kSlowChunk : kChunk;
  lock.unlock();
  const bool listed = readListing(*folder, perChunk);
  lock.lock();
  if (!listed) return 1;
  folder->planned = true;
  folder->chunksLeft = folder->chunks.size();
  for (const Entry& entry : folder->entries) {
    if (entry.child) queue(entry.child, folder, kNoChunk);
  }
  for (size_t chunk = 1; chunk < folder->chunks.size(); ++chunk) {
    queue(folder, nullptr, chunk);
  }
  if (folder->chunks.empty()) {
    folder->list = Folder::Step::Done;
    wakeWalk();
    return 2;
  }
  return 2 + runChunk(folder, 0, lock);
}

size_t ReadAhead::runChunk(const Shared& folder, size_t chunk, Lock& lock) {
  Folder::Chunk& part = folder->chunks[chunk];
  if (part.step != Folder::Step::Waiting) return 0;
  part.step = Folder::Step::Running;
  ++folder->busy;
  lock.unlock();
  const std::vector<Shared> children = lookAtChunk(*folder, chunk);
  lock.lock();
  --folder->busy;
  folder->chunks[chunk].step = Folder::Step::Done;
  for (const Shared& child : children) queue(child, folder, kNoChunk);
  if (--folder->chunksLeft == 0) folder->list = Folder::Step::Done;
  wakeWalk();
  return part.end - part.begin;
}

void ReadAhead::openFolder(Folder& folder, const Folder* parent) {
  const Sample sample;
  folder.openError = parent != nullptr
                         ? folder.reader.openEntry(parent->reader, folder.name)
                         : folder.reader.open(folder.name);
  if (folder.openError) return;
  folder.identifyError = folder.reader.identify(folder.id);
  if (!folder.identifyError) {
    folder.trail = std::make_shared<Trail>(Trail{folder.id, folder.above});
  }
}

// Lists the folder, then plans its statuses in chunks and makes a child for
// each subfolder. False when it stopped for an interrupt.
bool ReadAhead::readListing(Folder& folder, size_t perChunk) {
  const char* name = nullptr;
  os::EntryKind kind = os::EntryKind::Other;
  {
    const Sample sample;
    while (folder.reader.next(name, kind, folder.listError)) {
      folder.entries.emplace_back();
      folder.entries.back().kind = kind;
      folder.names.append(name).push_back('\0');
      if (folder.entries.size() % 1024 == 0 && stopped()) return false;
    }
  }
  // The names stay where they are from now on.
  const char* next = folder.names.data();
  for (Entry& entry : folder.entries) {
    entry.name = next;
    next += std::strlen(next) + 1;
  }
  if (settings_.afterListing) settings_.afterListing(folder.text);
  size_t inChunk = 0;
  for (size_t i = 0; i < folder.entries.size(); ++i) {
    Entry& entry = folder.entries[i];
    if (entry.kind == os::EntryKind::Directory) {
      entry.child = makeChild(folder, i);
    } else if (needsStatus(entry)) {
      if (inChunk == 0) folder.chunks.push_back({i, i, Folder::Step::Waiting});
      folder.chunks.back().end = i + 1;
      inChunk = (inChunk + 1) % perChunk;
    }
  }
  return true;
}

bool ReadAhead::needsStatus(const Entry& entry) const {
  return entry.kind == os::EntryKind::Link ||
         entry.kind == os::EntryKind::Unknown ||
         (entry.kind == os::EntryKind::RegularFile &&
          hasExtension(settings_.filters, entry.name));
}

// Reads the statuses of one chunk: a song's own, a link's or an unknown
// entry's through the link. Returns a child for each that is a folder.
std::vector<ReadAhead::Shared> ReadAhead::lookAtChunk(Folder& folder,
                                                      size_t chunk) {
  const Sample sample;
  std::vector<Shared> children;
  const size_t end = folder.chunks[chunk].end;
  for (size_t i = folder.chunks[chunk].begin; i < end; ++i) {
    Entry& entry = folder.entries[i];
    if (!needsStatus(entry)) continue;
    const bool follow = entry.kind != os::EntryKind::RegularFile;
    entry.error = folder.reader.statusOf(entry.name, follow, entry.status);
    entry.looked = true;
    if (follow && !entry.error && entry.status.directory) {
      entry.child = makeChild(folder, i);
      children.push_back(entry.child);
    }
  }
  return children;
}

ReadAhead::Shared ReadAhead::makeChild(const Folder& parent, size_t index) {
  const Entry& entry = parent.entries[index];
  // Not make_shared: a claim's weak pointer would keep the whole folder's
  // memory to the end of the run, not just the count.
  Shared child(new Folder);
  child->name = entry.name;
  child->text = parent.text;
  if (child->text.back() != '/') child->text += '/';
  child->text += entry.name;
  child->depth = parent.depth + 1;
  child->viaLink = entry.kind != os::EntryKind::Directory;
  child->linkTarget = entry.status.id;
  child->above = parent.trail;
  child->position = std::make_shared<Position>(
      Position{index, parent.position->depth + 1, parent.position});
  return child;
}

void ReadAhead::queue(const Shared& folder, const Shared& parent,
                      size_t chunk) {
  // With no thread allowed to work, the walk does each job when it gets
  // there, and a queue would only keep what it did.
  if (allowed_ == 0 || stopping_) return;
  queue_.push(Job{folder->position, sequence_++, folder, parent, chunk});
  wakeWorker();
}

void ReadAhead::uncount(Folder& folder) {
  if (!folder.counted) return;
  folder.counted = false;
  --heldAhead_;
  wakeWorker();
}

// Wakes a sleeping thread when fewer are awake than may work; one that is
// awake takes the next job anyway.
void ReadAhead::wakeWorker() {
  if (idle_ > 0 && threads_.size() - idle_ < allowed_) workReady_.notify_one();
}

void ReadAhead::wakeWalk() {
  if (walkWaits_) walkReady_.notify_one();
}

void ReadAhead::waitForWorkers(Lock& lock) {
  // While answers come from memory, the walk does a job itself rather
  // than wait for the one it needs.
  if (allowed_ < settings_.threads && !queue_.empty() && ready(queue_.top())) {
    const Job job = queue_.top();
    queue_.pop();
    measured([&] { return runJob(job, lock); });
    return;
  }
  // Most jobs take a few microseconds while answers come from memory:
  // look again for a while before sleeping, which costs two switches and
  // on a busy machine the rest of a time slice.
  if (spins_++ % kSpins != kSpins - 1) {
    lock.unlock();
    const auto until = std::chrono::steady_clock::now() + kSpin;
    while (std::chrono::steady_clock::now() < until) {
    }
    lock.lock();
    return;
  }
  walkWaits_ = true;
  walkReady_.wait_for(lock, kWalkWait);
  walkWaits_ = false;
}

std::shared_ptr<ReadAhead::Folder> ReadAhead::openInput(
    const std::string& text) {
  Shared folder(new Folder);
  folder->name = text;
  folder->text = text;
  folder->position =
      std::make_shared<Position>(Position{inputs_++, 0, nullptr});
  openFolder(*folder, nullptr);
  folder->open = Folder::Step::Done;
  return folder;
}

std::shared_ptr<ReadAhead::Folder> ReadAhead::openChild(const Shared& content,
                                                        size_t index) {
  Lock lock(mutex_);
  Shared child = content->entries[index].child;
  while (child->open == Folder::Step::Running) waitForWorkers(lock);
  if (child->open != Folder::Step::Done) {
    child->open = Folder::Step::Running;
    measured([&] {
      lock.unlock();
      openFolder(*child, content.get());
      lock.lock();
      return size_t{2};
    });
    child->open = Folder::Step::Done;
  }
  return child;
}

std::shared_ptr<ReadAhead::Folder> ReadAhead::listing(const Shared& folder) {
  Lock lock(mutex_);
  if (folder->list == Folder::Step::Waiting && !folder->sameAs &&
      claim(folder, true)) {
    measured([&] { return listNow(folder, lock); });
  }
  Shared served = folder->sameAs ? folder->sameAs : folder;
  while (served->list != Folder::Step::Done) {
    if (os::interruptSignal() != 0) return nullptr;
    size_t waiting = kNoChunk;
    for (size_t c = 0; served->planned && c < served->chunks.size(); ++c) {
      if (served->chunks[c].step != Folder::Step::Waiting) continue;
      waiting = c;
      break;
    }
    if (waiting != kNoChunk) {
      measured([&] { return runChunk(served, waiting, lock); });
    } else {
      waitForWorkers(lock);
    }
  }
  return served;
}

void ReadAhead::take(Folder& folder) {
  Lock lock(mutex_);
  uncount(folder);
}

void ReadAhead::release(Folder& folder) {
  Lock lock(mutex_);
  folder.closed = true;
  while (folder.busy > 0) waitForWorkers(lock);
  uncount(folder);
  lock.unlock();
  folder.reader = os::FolderReader();
}
