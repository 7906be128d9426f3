#include "app/usage.h"

namespace {

// The usage text, kept outside printUsage so that the function stays short
// however long the text grows.
const char kUsage[] =
    R"(Usage: Plinkard -i [Directory] -o [Directory] -s [MBytes] [OPTIONS]...

-i  [Directory]
     Specifies Input directory. You can specify multiple Directories by passing
     the -i Flag multiple times.
-o  [Directory]
     Specifies Output directory.
-s  [MBytes] | all
     The amount of music you want to copy, in Megabytes.
     Alternatively, you can specify 'all' to use all free space.

-f  [Filter]
     Specifies which filetypes you want to copy, separated by commas.
     Example: mp3,wma,ogg
     If no filter rules are given, Plinkard will only look for .mp3 files.
-in [Regular Expression]
     The file(path) must match this.
-ex [Regular Expression]
     The file(path) must NOT match this.
-d  [Format]
     Specifies which output format to use.
     0: filename.ext (just the filename; default)
     1: folder/subfolder/filename.ext (same structure as in input folder)
     2: folder-subfolder-filename.ext (foldernames added to filename)
-l  [List File]
     Songs listed in this file will not be copied.
     Songs that have been copied will be appended to that list.
-w
    Waits after execution for user to press any key.
-m
    Move files instead of copying. Use with care!
-v
    Be verbose, ie. print debug output.
-n
    Dry run: show what would be copied or moved, and change nothing.
-r
    Removes the songs that earlier runs with -r or -p copied here, then fills.
-p  [Playlist]
     Writes a playlist of the songs runs with -r or -p copied here (*.m3u8).
-a
    Whole albums: copy the songs of a folder together, in track order.
    Disc folders (CD1, Disc 2) belong to their parent folder's album.
-t  [Minutes]
     Fill at most this playing time; -s still limits the size.
-e  [Count]
     At most this many songs (with -a: albums) by one artist.
-c  [Format[:kbit/s]]
     Convert songs not in this format: mp3, m4a, opus or ogg.
-h, --help
    Print this text and exit.
--version
    Print the version line and exit.
)";

}  // namespace

void printUsage(std::ostream& out) { out << kUsage << std::flush; }
