#ifndef PLINKARD_TAGS_TAGLIB_QUIET_H_
#define PLINKARD_TAGS_TAGLIB_QUIET_H_

// Within the tags unit: keeps TagLib from writing its complaints about
// malformed files to standard error, for the rest of the run.
void silenceTagLib();

#endif  // PLINKARD_TAGS_TAGLIB_QUIET_H_
