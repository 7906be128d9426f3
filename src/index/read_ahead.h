#ifndef PLINKARD_INDEX_READ_AHEAD_H_
#define PLINKARD_INDEX_READ_AHEAD_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "index/id_table.h"
#include "os/file_id.h"
#include "os/files.h"
#include "os/mutex.h"
#include "os/thread_annotations.h"

// Whether the file name `name` ends in one of `extensions` (each with its
// dot), compared byte for byte from the name's last '.'.
bool hasExtension(const std::vector<std::string>& extensions,
                  std::string_view name);

// Reads folders ahead of the scan's depth-first walk, so that on a network
// share or a cold disk many requests wait for an answer at once instead of
// one: a fixed number of threads open the subfolders, list them and read
// the status of the entries the walk will look at (the names that match the
// filters, links and entries of unknown type, nothing else). Work nearest to
// the walk in depth-first order goes first, and what the walk asks for and
// finds not started it does itself, so the walk never waits for work that
// is further ahead.
//
// The walk keeps every decision: it asks for a folder's open, then for its
// listing, and gets the answers as the system gave them. A folder is listed
// once, whichever path reaches it first; another path to it is served by the
// same listing. No thread is seen outside; they are started when the first
// of them may work, and all are stopped and joined when the object goes, or
// at stop().
class ReadAhead {
 public:
  // Threads, so requests in flight, while answers wait: enough to hide a
  // network's round trip behind each other, few enough to stay small
  // beside the index. The folders they hold open ahead stay within
  // `openAhead` however many there are.
  static constexpr size_t kThreads = 64;
  // At most this many on local disks: a disk's queue gains nothing from
  // more, and the walk's next request would wait behind all of them (a
  // cold scan took twice as long with 64).
  static constexpr size_t kLocalThreads = 16;

  struct Settings {
    // 0: no thread; each request is made when the walk asks for its
    // answer, on the walk's thread, one at a time.
    size_t threads = kThreads;
    size_t localThreads = kLocalThreads;
    // How many of them work while answers come from memory: as many as
    // there are processors besides the walk's (more would only take turns
    // on them). All of them work while answers wait for a round trip or a
    // seek. Each thread is started the first time it may work.
    size_t fastThreads = os::usableProcessors() - 1;
    size_t openAhead = 0;   // folders held open that the walk has not taken
    size_t depthLimit = 0;  // a folder this many levels down is not opened
    size_t textLimit = 0;   // nor one whose path is longer than this
    std::vector<std::string> filters;  // the names whose status is read
    bool haveOutput = false;
    os::FileId output;  // never listed
    // Called after each listing (on whichever thread listed it) before any
    // of its entries is looked at, with the folder's path as first met.
    // Lets a test change the tree at that moment.
    std::function<void(const std::string& folder)> afterListing;
  };

  struct Folder;

  // One entry of a listing, with what was asked about it.
  struct Entry {
    size_t name = 0;  // where its name starts in its folder's `names`
    os::EntryKind kind = os::EntryKind::Other;
    bool wanted = false;  // its status is read: `status` or `error` holds it
    std::error_code error;
    os::EntryStatus status;
    // For a subfolder or a link that leads to a folder; the walk drops it
    // once done with the entry.
    std::shared_ptr<Folder> child;
  };

  // A folder as one entry (or an input folder) leads to it.
  struct Folder {
    const char* name = nullptr;  // in its parent's `names`
    std::string text;            // its path as first met
    size_t depth = 0;            // levels above it on that path
    bool viaLink = false;
    os::FileId linkTarget;  // where the link led, when viaLink

    // The open: written by the thread that opens the folder while its open
    // step runs, final once it is done (the walk gets the folder only then).
    os::FolderReader reader;
    std::error_code openError;
    std::error_code identifyError;
    os::FileId id;

    // The listing: written by the thread that lists the folder, then each
    // entry's status by the job that reads it; final once the folder is the
    // one listing() returned.
    std::vector<Entry> entries;
    std::string names;  // every entry's, each ended by a '\0'
    std::error_code listError;

    const char* nameOf(const Entry& entry) const {
      return names.data() + entry.name;
    }

   private:
    friend class ReadAhead;
    enum class Step : uint8_t { Waiting, Running, Done };
    // What the threads and the walk share about the folder. The ReadAhead
    // reaches it only through book(), which needs its mutex held: Clang's
    // analysis takes a field's lock to be a member of the object that
    // holds the field, so these cannot name the ReadAhead's mutex.
    struct Book {
      Step open = Step::Waiting;
      Step list = Step::Waiting;  // Running until every status is read
      bool listed = false;        // `entries` is complete
      bool counted = false;       // its descriptor counts as read ahead
      bool closed = false;
      size_t nextLook = 0;  // the first wanted entry no thread has begun on
      size_t perLook = 0;   // statuses read by one job
      size_t looking = 0;   // jobs reading its statuses
      size_t children = 0;  // entries that lead to a folder
      size_t busy = 0;      // requests in flight below its descriptor
      std::shared_ptr<Folder> sameAs;  // the path whose listing serves it
    };
    Book book_;
    // Its place in depth-first order, and how many places after it belong
    // to the folders below it: a cheap order for the jobs. Set before the
    // folder is queued, only read afterwards.
    uint64_t place = 0;
    uint64_t span = 0;
  };

  explicit ReadAhead(Settings settings);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Opens the input folder at `text` on the calling thread. Its file
  // system decides how many threads may work while answers wait.
  std::shared_ptr<Folder> openInput(const std::string& text)
      LOCKS_EXCLUDED(mutex_);
  // The folder that entry `index` of `content` leads to, opened: waits for
  // the open, or makes it when it was not started.
  // The walk opens it relative to `folder`, whose listing is `content`.
  std::shared_ptr<Folder> openChild(const std::shared_ptr<Folder>& folder,
                                    const std::shared_ptr<Folder>& content,
                                    size_t index) LOCKS_EXCLUDED(mutex_);
  // The folder whose listing serves `folder`, complete with every status:
  // `folder` itself or another path to it. The walk holds `folder` from
  // then on. Null when an interrupt came first.
  std::shared_ptr<Folder> listing(const std::shared_ptr<Folder>& folder)
      LOCKS_EXCLUDED(mutex_);
  // The walk is done with `folder`: its descriptor is closed.
  void release(Folder& folder) LOCKS_EXCLUDED(mutex_);
  // Stops and joins the threads; requests in flight finish first.
  void stop() LOCKS_EXCLUDED(mutex_);

 private:
  // An open (with the listing that follows), or statuses of a listing.
  struct Job {
    uint64_t place;
    uint64_t sequence;
    std::shared_ptr<Folder> folder;
    std::shared_ptr<Folder> parent;  // for an open
  };
  struct Later {
    bool operator()(const Job& a, const Job& b) const;
  };
  // What a listing found beside its entries.
  struct Listed {
    size_t wanted = 0;       // entries whose status is to be read
    size_t firstWanted = 0;  // the first of them
    size_t children = 0;     // subfolders
  };
  using Shared = std::shared_ptr<Folder>;

  Folder::Book& book(Folder& folder) EXCLUSIVE_LOCKS_REQUIRED(mutex_) {
    return folder.book_;
  }
  const Folder::Book& book(const Folder& folder) const
      EXCLUSIVE_LOCKS_REQUIRED(mutex_) {
    return folder.book_;
  }

  void startThreads() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void work() LOCKS_EXCLUDED(mutex_);
  bool takeJob(Job& job) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // These hold the lock when called and when they return, and give it up
  // in one visible block while their requests run (helpOrWait also while
  // it waits): what the caller read under the lock may have changed.
  size_t runJob(const Job& job) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  size_t listNow(const Shared& folder) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  size_t lookNext(const Shared& folder) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void helpOrWait() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // Around a job's requests: they note whether its answers waited.
  void beginTally() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void endTally(size_t requests) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void noteWaits(uint64_t waits, size_t requests)
      EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  bool declines(const Folder& folder) const EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  bool wantsListing(const Folder& folder) const
      EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  bool claim(const Shared& folder, bool forWalk)
      EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  // The requests themselves, made without the lock.
  void openFolder(Folder& folder, const Folder* parent) LOCKS_EXCLUDED(mutex_);
  bool readListing(Folder& folder, Listed& listed) LOCKS_EXCLUDED(mutex_);
  size_t lookAt(Folder& folder, size_t begin, size_t end)
      LOCKS_EXCLUDED(mutex_);
  bool needsStatus(const Entry& entry, const char* name) const;
  void makeChild(Folder& parent, size_t index);
  void queue(const Shared& folder, const Shared& parent)
      EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void finishLooks(Folder& folder) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void uncount(Folder& folder) EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void wakeWorker() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  void wakeWalk() EXCLUSIVE_LOCKS_REQUIRED(mutex_);
  bool stopped() const;

  const Settings settings_;
  os::Mutex mutex_;
  os::CondVar workReady_;
  os::CondVar walkReady_;
  // A heap, the job nearest the walk on top.
  std::vector<Job> queue_ GUARDED_BY(mutex_);
  uint64_t sequence_ GUARDED_BY(mutex_) = 0;
  size_t idle_ GUARDED_BY(mutex_) = 0;
  // Threads at work, and how many may be.
  size_t active_ GUARDED_BY(mutex_) = 0;
  size_t allowed_ GUARDED_BY(mutex_) = 0;
  // How many may work while answers wait, on the input folder's file
  // system.
  size_t slowThreads_ GUARDED_BY(mutex_) = 0;
  // Of the requests that waited, a running average.
  double waitShare_ GUARDED_BY(mutex_) = 0;
  unsigned samples_ GUARDED_BY(mutex_) = 0;
  bool walkWaits_ GUARDED_BY(mutex_) = false;
  // Set under the lock, so that no wait misses it; read without it by a
  // listing in progress.
  std::atomic<bool> stopping_{false};
  size_t heldAhead_ GUARDED_BY(mutex_) = 0;
  // Which path's listing serves each folder listed so far; none once the
  // walk is done with it.
  IdTable<Shared> claims_ GUARDED_BY(mutex_);
  std::vector<std::thread> threads_ GUARDED_BY(mutex_);
};

#endif  // PLINKARD_INDEX_READ_AHEAD_H_
