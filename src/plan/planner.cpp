#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "job/fill_job.h"
#include "os/signals.h"
#include "plan/albums.h"
#include "plan/song_limits.h"
#include "plan/target_space.h"

namespace {

// The classic shuffle on rand(): for i from 1 up, swap i with a position
// drawn from 0 to i.
void shuffle(std::vector<uint32_t>& positions) {
  for (size_t i = 1; i < positions.size(); ++i) {
    const size_t j = static_cast<size_t>(std::rand()) % (i + 1);
    std::swap(positions[i], positions[j]);
  }
}

// One first-fit walk over `positions`: takes every song that still fits into
// the room left below `fillSize` (and within `limits`, when given), into
// `choice`; returns its total.
uint64_t firstFit(const std::vector<uint32_t>& positions,
                  const std::vector<uint32_t>& sizes, uint64_t fillSize,
                  FillPlan& choice, SongLimits* limits) {
  uint64_t total = 0;
  for (const uint32_t& position : positions) {
    const uint64_t size = sizes[position];
    if (size < fillSize - total &&
        (limits == nullptr || limits->fits(&position, &position + 1))) {
      choice.push_back(position);
      total += size;
      if (limits != nullptr) limits->take(&position, &position + 1);
    }
  }
  return total;
}

// The walk of a choice: over file sizes in KiB below the fill size, or,
// when the fill size is the target's free space or the target's folders
// hold a limited number of entries, over the songs' costs there.
// With -t or -e, `limits` hold each walk to the playing time and the count
// per artist too, and a choice's share is that of the playing time.
class Walk {
 public:
  Walk(const FillJob& job, SongLimits* limits)
      : onTarget_(job.bFillAll || job.targetVolume.folderEntryBytes != 0),
        budget_(job.bFillAll ? job.fillSize * 1024 : job.fillSize),
        limits_(limits) {
    if (onTarget_) {
      costs_ = spaceCostsOf(job);
      return;
    }
    // The walks read sizes in random order; a compact copy keeps them in
    // cache where the index itself would not fit.
    sizes_.reserve(job.songs.size());
    for (uint32_t i = 0; i < job.songs.size(); ++i) {
      sizes_.push_back(job.targetKiB(i));
    }
  }

  uint64_t budget() const { return budget_; }

  uint64_t firstFit(const std::vector<uint32_t>& positions,
                    FillPlan& choice) const {
    if (limits_ != nullptr) limits_->reset();
    return onTarget_
               ? firstFitOnTarget(positions, costs_, budget_, choice, limits_)
               : ::firstFit(positions, sizes_, budget_, choice, limits_);
  }

  uint64_t efficiency(uint64_t total) const {
    return shareOf(total, budget_, limits_);
  }

  // The same costs and limits, for walks over whole albums.
  AlbumWalk overAlbums(Albums albums) const {
    if (onTarget_) {
      AlbumWalk walk(std::move(albums), costs_, budget_);
      walk.setLimits(limits_);
      return walk;
    }
    AlbumWalk walk(std::move(albums), sizes_, budget_);
    walk.setLimits(limits_);
    return walk;
  }

 private:
  bool onTarget_;
  uint64_t budget_;
  SongLimits* limits_;
  std::vector<uint32_t> sizes_;
  SpaceCosts costs_;
};

// The best choice drawn so far.
struct Best {
  bool found = false;
  uint64_t perMille = 0;
  uint64_t total = 0;
  FillPlan plan;
};

// Draws `choiceCount` choices, each a first fit of `walk` over a newly
// shuffled order of `count` items, into `best`. False when interrupted.
template <typename AnyWalk>
bool drawChoices(const AnyWalk& walk, size_t count, uint8_t choiceCount,
                 Best& best) {
  std::vector<uint32_t> positions(count);
  for (uint32_t i = 0; i < positions.size(); ++i) positions[i] = i;
  // The first choice is the best so far whatever it fills; a later one
  // replaces it only when it fills strictly more.
  FillPlan current;
  for (uint8_t choice = 0; choice < choiceCount; ++choice) {
    if (os::interruptSignal() != 0) return false;
    shuffle(positions);
    shuffle(positions);
    const uint64_t total = walk.firstFit(positions, current);
    const uint64_t efficiency = walk.efficiency(total);
    if (!best.found || efficiency > best.perMille) {
      best = Best{true, efficiency, total, current};
    }
    current.clear();
  }
  return true;
}

std::string_view folderOf(std::string_view path) {
  return path.substr(0, path.rfind('/'));
}

// drawChoices over the job's albums, after the verbose lines that name the
// albums too large to fit.
bool drawAlbumChoices(const FillJob& job, const Walk& walk, uint8_t choiceCount,
                      Best& best) {
  std::vector<std::string_view> paths;
  paths.reserve(job.songs.size());
  for (const SongEntry& song : job.songs) {
    paths.push_back(song.sourcePath.native());
  }
  const bool tagged = job.songTags.size() == job.songs.size();
  const AlbumWalk albums =
      walk.overAlbums(groupAlbums(paths, tagged ? &job.songTags : nullptr));
  const Albums& all = albums.albums();
  for (uint32_t album : albums.tooLarge()) {
    if (job.bVerbose) {
      job.printLine("Album too large, skipped: ",
                    folderOf(paths[all.songs[all.starts[album]]]));
    }
  }
  return drawChoices(albums, albums.count(), choiceCount, best);
}

// Disc folders put songs of one name into one album, and under -d 0 their
// targets are one file: only the first of them is planned, so that none
// fails for it (verbose runs name the others).
void dropSameTargets(const FillJob& job, FillPlan& plan) {
  std::unordered_set<std::string_view> targets;
  const auto taken = [&](uint32_t position) {
    const SongEntry& song = job.songs[position];
    if (targets.insert(song.targetPath.native()).second) return false;
    if (job.bVerbose) {
      job.printLine("Same target as a song planned before, left out: ",
                    song.sourcePath.native());
    }
    return true;
  };
  plan.erase(std::remove_if(plan.begin(), plan.end(), taken), plan.end());
}

}  // namespace

uint64_t shareOf(uint64_t total, uint64_t budget, const SongLimits* limits) {
  return limits != nullptr && limits->timed()
             ? perMille(limits->takenMs(), limits->fillMs())
             : perMille(total, budget);
}

uint64_t perMille(uint64_t total, uint64_t fillSize) {
  // Whole fill sizes first, then three decimal digits of what is left by
  // long division. Each digit's ten-fold remainder is summed modulo
  // fillSize, so no intermediate value can pass 64 bits.
  uint64_t result = total / fillSize * 1000;
  uint64_t rest = total % fillSize;
  for (uint64_t place = 100; place > 0; place /= 10) {
    uint64_t digit = 0;
    uint64_t next = 0;
    for (int i = 0; i < 10; ++i) {
      if (next >= fillSize - rest) {
        next -= fillSize - rest;
        ++digit;
      } else {
        next += rest;
      }
    }
    result += digit * place;
    rest = next;
  }
  return result;
}

bool FillJob::createPlan(uint8_t choiceCount) {
  if (choiceCount == 0) {
    printLine("We must generate at least 1 choice!");
    return false;
  }
  std::unique_ptr<SongLimits> limits;
  if (fillMs != 0 || artistLimit != 0) {
    songTags.resize(songs.size());
    limits =
        std::make_unique<SongLimits>(songTags, fillMs, artistLimit, bAlbums);
    if (limits->untimedSongs() > 0) {
      printLine(limits->untimedSongs(),
                " songs of unknown playing time are not planned.");
    }
  }
  const Walk walk(*this, limits.get());
  Best best;
  const bool drawn = bAlbums
                         ? drawAlbumChoices(*this, walk, choiceCount, best)
                         : drawChoices(walk, songs.size(), choiceCount, best);
  if (!drawn) return false;
  printLine("Most efficient combination: ",
            static_cast<float>(best.perMille) / 1000.0f);
  // Plan and totals change together, and only when the planner completes.
  // planSize is the plan's file sizes.
  plan = std::move(best.plan);
  if (bAlbums) dropSameTargets(*this, plan);
  planSize = 0;
  planMs = 0;
  for (uint32_t position : plan) {
    planSize += targetKiB(position);
    if (fillMs != 0)
      planMs += static_cast<uint64_t>(songTags[position].playingMs);
  }
  planTargetBytes = bFillAll && !plan.empty() ? best.total : 0;
  return true;
}
