#include "index/read_ahead.h"

#include <algorithm>
#include <chrono>

#include "os/signals.h"

namespace {

using Clock = std::chrono::steady_clock;

// Statuses read by one job: the first job of a folder is done by whoever
// listed it, the others by any thread.
constexpr size_t kLook = 16;
// Fewer while every request waits for its answer, so that a folder's songs
// are asked about at once.
constexpr size_t kSlowLook = 2;
// When more than this share of the requests has to wait for its answer (a
// round trip, a seek), every thread may work, until it drops below the
// second: on a cold disk one read serves many requests of a folder.
constexpr double kSlowWaits = 0.02;
constexpr double kFastWaits = 0.002;
constexpr unsigned kSampleEvery = 8;
// Requests that took longer than this each may have waited for their
// answers: the thread's next job counts how often its requests waited.
constexpr Clock::duration kSlowRequest = std::chrono::microseconds(50);
// Room made for a listing before it is read: an album's songs.
constexpr size_t kInitialEntries = 16;
// How long the walk waits before it looks at the interrupt note again.
constexpr std::chrono::milliseconds kWalkWait(20);

// What the requests of the job at hand on this thread cost: how long they
// took and, when sampling, how often they waited (only the requests are
// counted, not waits for the lock).
struct Tally {
  bool sampling = false;
  bool sampleNext = false;
  Clock::duration elapsed{};
  uint64_t waits = 0;
};
thread_local Tally tally;

// Adds the cost of the requests made while it lives to the tally.
class Requests {
 public:
  Requests()
      : start_(Clock::now()), waits_(tally.sampling ? os::threadWaits() : 0) {}
  ~Requests() {
    tally.elapsed += Clock::now() - start_;
    if (tally.sampling) tally.waits += os::threadWaits() - waits_;
  }
  Requests(const Requests&) = delete;
  Requests& operator=(const Requests&) = delete;

 private:
  Clock::time_point start_;
  uint64_t waits_;
};

}  // namespace

bool hasExtension(const std::vector<std::string>& extensions,
                  std::string_view name) {
  const size_t dot = name.rfind('.');
  const std::string_view extension =
      dot == std::string_view::npos ? std::string_view() : name.substr(dot);
  return std::any_of(extensions.begin(), extensions.end(),
                     [&](const std::string& e) { return e == extension; });
}

ReadAhead::ReadAhead(Settings settings) : settings_(std::move(settings)) {
  os::MutexLock lock(mutex_);
  slowThreads_ = std::min(settings_.threads, settings_.localThreads);
  allowed_ = std::min(slowThreads_, settings_.fastThreads);
  if (allowed_ > 0) startThreads();
}

// Starts threads until as many run as may work. Pinned to one processor,
// with every answer coming from memory, none ever may: the walk makes each
// request itself and no thread is made. On two processors one is, and the
// others only once answers wait.
void ReadAhead::startThreads() {
  if (stopping_) return;
  while (threads_.size() < allowed_) {
    threads_.emplace_back([this] { work(); });
  }
}

ReadAhead::~ReadAhead() { stop(); }

void ReadAhead::stop() {
  std::vector<std::thread> threads;
  {
    os::MutexLock lock(mutex_);
    stopping_ = true;
    threads.swap(threads_);
  }
  workReady_.signalAll();
  for (std::thread& thread : threads) thread.join();
  os::MutexLock lock(mutex_);
  queue_.clear();
}

bool ReadAhead::stopped() const {
  return stopping_ || os::interruptSignal() != 0;
}

void ReadAhead::work() {
  os::keepInterruptsFromThisThread();
  os::MutexLock lock(mutex_);
  Job job;
  while (!stopped()) {
    if (active_ < allowed_ && takeJob(job)) {
      ++active_;
      beginTally();
      endTally(runJob(job));
      --active_;
      job = Job();
      continue;
    }
    ++idle_;
    workReady_.wait(mutex_);
    --idle_;
  }
}

// Whether `a` is to be done after `b`: later in depth-first order, or the
// same place queued later.
bool ReadAhead::Later::operator()(const Job& a, const Job& b) const {
  return a.place != b.place ? a.place > b.place : a.sequence > b.sequence;
}

// Takes the job nearest the walk, dropping those done already. An open
// waits while as many folders as allowed are held open ahead.
bool ReadAhead::takeJob(Job& job) {
  while (!queue_.empty()) {
    const Job& top = queue_.front();
    const Folder& folder = *top.folder;
    const bool open = top.parent != nullptr;
    const bool done = open ? book(folder).open != Folder::Step::Waiting
                           : book(folder).nextLook == folder.entries.size();
    if (open && !done && heldAhead_ >= settings_.openAhead) return false;
    std::pop_heap(queue_.begin(), queue_.end(), Later());
    if (!done) job = std::move(queue_.back());
    queue_.pop_back();
    if (!done) return true;
  }
  return false;
}

// Before a job: after requests that took long, or now and then while every
// thread works, the job notes how many of its requests had to wait for
// their answer.
void ReadAhead::beginTally() {
  tally.sampling = settings_.threads > 0 &&
                   (tally.sampleNext || (allowed_ == slowThreads_ &&
                                         samples_++ % kSampleEvery == 0));
  tally.elapsed = {};
  tally.waits = 0;
}

// After a job that made about `requests` requests.
void ReadAhead::endTally(size_t requests) {
  if (settings_.threads == 0) return;
  if (tally.sampling) noteWaits(tally.waits, requests);
  tally.sampling = false;
  tally.sampleNext =
      tally.elapsed > kSlowRequest * static_cast<int64_t>(requests);
}

void ReadAhead::noteWaits(uint64_t waits, size_t requests) {
  if (requests == 0) return;
  const double share =
      static_cast<double>(waits) / static_cast<double>(requests);
  waitShare_ += (share - waitShare_) / 16;
  const size_t fast = std::min(slowThreads_, settings_.fastThreads);
  const bool slow = allowed_ > fast;
  const size_t allowed =
      waitShare_ > (slow ? kFastWaits : kSlowWaits) ? slowThreads_ : fast;
  const bool more = allowed > allowed_;
  allowed_ = allowed;
  if (more) {
    startThreads();
    workReady_.signalAll();
  }
}

// Runs the job and returns about how many requests it made.
size_t ReadAhead::runJob(const Job& job) {
  if (job.parent == nullptr) return lookNext(job.folder);
  Folder& folder = *job.folder;
  Folder& parent = *job.parent;
  // The walk opens what the read-ahead declines, when it wants it.
  if (book(parent).closed || declines(folder)) return 0;
  book(folder).open = Folder::Step::Running;
  book(folder).counted = true;
  ++heldAhead_;
  ++book(parent).busy;
  mutex_.unlock();
  openFolder(folder, &parent);
  mutex_.lock();
  --book(parent).busy;
  book(folder).open = Folder::Step::Done;
  if (folder.openError) uncount(folder);
  wakeWalk();
  if (wantsListing(folder) && !stopped() && claim(job.folder, false)) {
    return 2 + listNow(job.folder);
  }
  return 2;
}

// What the walk would not open on the path the folder was first met by. A
// link to a folder listed already is left to the walk: it may lead to a
// folder above it.
bool ReadAhead::declines(const Folder& folder) const {
  return folder.depth >= settings_.depthLimit ||
         folder.text.size() > settings_.textLimit ||
         (folder.viaLink && claims_.contains(folder.linkTarget));
}

// What the walk would list on that path, unless another path lists it (a
// folder above it has listed it already, among others).
bool ReadAhead::wantsListing(const Folder& folder) const {
  return !folder.openError && !folder.identifyError &&
         book(folder).list == Folder::Step::Waiting && !book(folder).sameAs &&
         !(settings_.haveOutput && folder.id == settings_.output);
}

// Makes `folder` the path whose listing serves its folder, unless another
// path has that role already (then it serves `folder` too). The walk lists
// a folder whose listing went already; the read-ahead does not.
bool ReadAhead::claim(const Shared& folder, bool forWalk) {
  const auto [claimed, added] = claims_.insert(folder->id);
  if (added) {
    *claimed = folder;
    return true;
  }
  if (*claimed && *claimed != folder) {
    book(*folder).sameAs = *claimed;
    return false;
  }
  if (!*claimed && !forWalk) return false;
  *claimed = folder;
  return true;
}

// Lists the folder and reads the first of its statuses; the others, and
// the subfolders' opens, are queued.
size_t ReadAhead::listNow(const Shared& folder) {
  Folder& f = *folder;
  book(f).list = Folder::Step::Running;
  book(f).perLook = allowed_ == slowThreads_ ? kSlowLook : kLook;
  ++book(f).busy;
  Listed listed;
  mutex_.unlock();
  const bool complete = readListing(f, listed);
  mutex_.lock();
  --book(f).busy;
  if (!complete) return 1;
  book(f).listed = true;
  book(f).nextLook = listed.firstWanted;
  book(f).children = listed.children;
  for (const Entry& entry : f.entries) {
    if (entry.child) queue(entry.child, folder);
  }
  for (size_t more = book(f).perLook; more < listed.wanted;
       more += book(f).perLook) {
    queue(folder, nullptr);
  }
  finishLooks(f);
  return 2 + lookNext(folder);
}

// Reads the statuses of the next few wanted entries of a listed folder.
// The job that reads the last of them closes a folder that leads to no
// other: nothing needs it any more, and the system frees what it keeps
// for the listing fastest on the thread that read it, right away.
size_t ReadAhead::lookNext(const Shared& folder) {
  Folder& f = *folder;
  const size_t begin = book(f).nextLook;
  size_t end = begin;
  size_t count = 0;
  for (; end < f.entries.size() && count < book(f).perLook; ++end) {
    count += f.entries[end].wanted ? 1 : 0;
  }
  while (end < f.entries.size() && !f.entries[end].wanted) ++end;
  if (count == 0) return 0;
  book(f).nextLook = end;
  ++book(f).looking;
  ++book(f).busy;
  const bool last = end == f.entries.size() && book(f).looking == 1;
  const bool leaf = book(f).children == 0;
  mutex_.unlock();
  const size_t linked = lookAt(f, begin, end);
  if (last && leaf && linked == 0) f.reader = os::FolderReader();
  mutex_.lock();
  --book(f).busy;
  --book(f).looking;
  book(f).children += linked;
  for (size_t i = begin; linked > 0 && i < end; ++i) {
    if (f.entries[i].child) queue(f.entries[i].child, folder);
  }
  finishLooks(f);
  return count;
}

void ReadAhead::finishLooks(Folder& folder) {
  if (book(folder).nextLook < folder.entries.size() ||
      book(folder).looking > 0) {
    if (book(folder).closed && book(folder).busy == 0) wakeWalk();
    return;
  }
  book(folder).list = Folder::Step::Done;
  wakeWalk();
}

void ReadAhead::openFolder(Folder& folder, const Folder* parent) {
  const Requests requests;
  folder.openError = parent != nullptr
                         ? folder.reader.openEntry(parent->reader, folder.name)
                         : folder.reader.open(folder.text);
  if (!folder.openError)
    folder.identifyError = folder.reader.identify(folder.id);
}

// Lists the folder, marks the entries whose status is to be read and makes
// a child for each subfolder. False when it stopped for an interrupt or
// stop().
bool ReadAhead::readListing(Folder& folder, Listed& listed) {
  const char* name = nullptr;
  os::EntryKind kind = os::EntryKind::Other;
  folder.entries.reserve(kInitialEntries);
  folder.names.reserve(kInitialEntries * 16);
  {
    const Requests requests;
    while (folder.reader.next(name, kind, folder.listError)) {
      Entry& entry = folder.entries.emplace_back();
      entry.name = folder.names.size();
      entry.kind = kind;
      folder.names.append(name).push_back('\0');
      if (folder.entries.size() % 1024 == 0 && stopped()) return false;
    }
  }
  if (settings_.afterListing) settings_.afterListing(folder.text);
  listed.firstWanted = folder.entries.size();
  for (size_t i = folder.entries.size(); i-- > 0;) {
    Entry& entry = folder.entries[i];
    if (entry.kind == os::EntryKind::Directory) {
      makeChild(folder, i);
      ++listed.children;
    } else if (needsStatus(entry, folder.nameOf(entry))) {
      entry.wanted = true;
      listed.firstWanted = i;
      ++listed.wanted;
    }
  }
  return true;
}

bool ReadAhead::needsStatus(const Entry& entry, const char* name) const {
  return entry.kind == os::EntryKind::Link ||
         entry.kind == os::EntryKind::Unknown ||
         (entry.kind == os::EntryKind::RegularFile &&
          hasExtension(settings_.filters, name));
}

// Reads the statuses of the wanted entries from `begin` to `end`: a song's
// own, a link's or an unknown entry's through the link. Makes a child for
// each that is a folder, and returns how many.
size_t ReadAhead::lookAt(Folder& folder, size_t begin, size_t end) {
  const Requests requests;
  size_t children = 0;
  for (size_t i = begin; i < end; ++i) {
    Entry& entry = folder.entries[i];
    if (!entry.wanted) continue;
    const bool follow = entry.kind != os::EntryKind::RegularFile;
    entry.error =
        folder.reader.statusOf(folder.nameOf(entry), follow, entry.status);
    if (follow && !entry.error && entry.status.directory) {
      makeChild(folder, i);
      ++children;
    }
  }
  return children;
}

// The child's place: the parent's places split evenly among its entries,
// in order; where they run out, children share one and go in the order
// they were queued.
void ReadAhead::makeChild(Folder& parent, size_t index) {
  Entry& entry = parent.entries[index];
  auto child = std::make_shared<Folder>();
  child->name = parent.nameOf(entry);
  child->text = parent.text;
  if (child->text.back() != '/') child->text += '/';
  child->text += child->name;
  child->depth = parent.depth + 1;
  child->viaLink = entry.kind != os::EntryKind::Directory;
  child->linkTarget = entry.status.id;
  const uint64_t step = parent.span / parent.entries.size();
  child->place = parent.place + 1 + index * step;
  child->span = step > 0 ? step - 1 : 0;
  entry.child = std::move(child);
}

void ReadAhead::queue(const Shared& folder, const Shared& parent) {
  // With no thread allowed to work, the walk does each job when it gets
  // there, and a queue would only keep what it did.
  if (allowed_ == 0 || stopping_) return;
  queue_.push_back(Job{folder->place, sequence_++, folder, parent});
  std::push_heap(queue_.begin(), queue_.end(), Later());
  wakeWorker();
}

void ReadAhead::uncount(Folder& folder) {
  if (!book(folder).counted) return;
  book(folder).counted = false;
  --heldAhead_;
  wakeWorker();
}

// Wakes a sleeping thread when fewer are awake than may work; one that is
// awake takes the next job anyway.
void ReadAhead::wakeWorker() {
  if (idle_ > 0 && threads_.size() - idle_ < allowed_) workReady_.signal();
}

void ReadAhead::wakeWalk() {
  if (walkWaits_) walkReady_.signal();
}

// While answers come from memory, the walk does a job itself rather than
// wait for the one it needs.
void ReadAhead::helpOrWait() {
  Job job;
  if (allowed_ < slowThreads_ && takeJob(job)) {
    beginTally();
    endTally(runJob(job));
    return;
  }
  walkWaits_ = true;
  walkReady_.waitFor(mutex_, kWalkWait);
  walkWaits_ = false;
}

std::shared_ptr<ReadAhead::Folder> ReadAhead::openInput(
    const std::string& text) {
  Shared folder = std::make_shared<Folder>();
  folder->text = text;
  folder->span = UINT64_MAX / 2;
  os::MutexLock lock(mutex_);
  beginTally();
  mutex_.unlock();
  openFolder(*folder, nullptr);
  const bool remote = !folder->openError && folder->reader.remote();
  mutex_.lock();
  endTally(2);
  book(*folder).open = Folder::Step::Done;
  slowThreads_ = std::min(settings_.threads,
                          remote ? settings_.threads : settings_.localThreads);
  allowed_ = std::min(allowed_, slowThreads_);
  return folder;
}

std::shared_ptr<ReadAhead::Folder> ReadAhead::openChild(const Shared& folder,
                                                        const Shared& content,
                                                        size_t index) {
  os::MutexLock lock(mutex_);
  Shared child = content->entries[index].child;
  while (book(*child).open == Folder::Step::Running) helpOrWait();
  if (book(*child).open == Folder::Step::Waiting) {
    book(*child).open = Folder::Step::Running;
    beginTally();
    mutex_.unlock();
    openFolder(*child, folder.get());
    mutex_.lock();
    endTally(2);
    book(*child).open = Folder::Step::Done;
  }
  return child;
}

std::shared_ptr<ReadAhead::Folder> ReadAhead::listing(const Shared& folder) {
  os::MutexLock lock(mutex_);
  if (book(*folder).list == Folder::Step::Waiting && !book(*folder).sameAs &&
      claim(folder, true)) {
    beginTally();
    endTally(listNow(folder));
  }
  Shared served = book(*folder).sameAs ? book(*folder).sameAs : folder;
  while (book(*served).list != Folder::Step::Done) {
    if (os::interruptSignal() != 0) return nullptr;
    if (book(*served).listed &&
        book(*served).nextLook < served->entries.size()) {
      beginTally();
      endTally(lookNext(served));
    } else {
      helpOrWait();
    }
  }
  uncount(*folder);
  return served;
}

void ReadAhead::release(Folder& folder) {
  {
    os::MutexLock lock(mutex_);
    book(folder).closed = true;
    while (book(folder).busy > 0) helpOrWait();
    uncount(folder);
    if (book(folder).list != Folder::Step::Waiting) {
      Shared* claimed = claims_.find(folder.id);
      if (claimed != nullptr && claimed->get() == &folder) claimed->reset();
    }
  }
  folder.reader = os::FolderReader();
}
