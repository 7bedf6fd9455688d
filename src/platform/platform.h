/*
 * The platform seam: loading the reader library, finding its entry points,
 * unloading it, and telling the user when it cannot be loaded. One source
 * file per platform implements it; the build picks the file.
 *
 * Contract for every implementation:
 * - load_reader_library() loads the platform's reader library by its
 *   platform name (libRfReader.so, RfReader.dll) through that platform's
 *   search, and returns null when it cannot. It must not change any
 *   process-wide setting of the host.
 * - find_symbol() returns null for a name the module lacks.
 * - notify_load_failure() shows "动态库加载失败!" with the full path of the
 *   host executable, in the platform's way, and returns once the user has
 *   seen it. It must not allocate from the heap after a failed load more
 *   than the platform's own calls do.
 */
#ifndef VESK_PLATFORM_PLATFORM_H
#define VESK_PLATFORM_PLATFORM_H

namespace vesk::platform {

using Module = void *;

Module load_reader_library() noexcept;
void *find_symbol(Module module, const char *name) noexcept;
void unload(Module module) noexcept;
void notify_load_failure() noexcept;

}  // namespace vesk::platform

#endif
