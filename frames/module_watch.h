/* module_watch.h -- the loader's word of each module it loads or unloads,
 * passed on to the frame lookup (frame_walk.h) outside any fault. */
#ifndef TOOLS_FRAMES_MODULE_WATCH_H
#define TOOLS_FRAMES_MODULE_WATCH_H

namespace tk {

/* Asks the loader for its notifications; nothing where the platform has
 * none (before Windows Vista). */
void WatchModules();

/* Ends them, before the library's code is unmapped. */
void StopWatchingModules();

}  // namespace tk

#endif
