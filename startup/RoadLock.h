// One install road at a time: a second loader started while one is on the
// not-installed road (wizard, download or setup) steps aside.
#pragma once

#include "Handles.h"

#include <optional>

namespace rvz {

class RoadLock {
public:
    // The lock for this loader, or nothing while another loader holds it.
    static std::optional<RoadLock> Take();
    // The lock of the elevated part that installs for a loader which asks
    // for rights only to install; nothing while another such part holds it.
    static std::optional<RoadLock> TakeForElevatedPart();

private:
    static std::optional<RoadLock> TakeNamed(const wchar_t* name);
    explicit RoadLock(UniqueHandleKernel mutex) : mutex_(std::move(mutex)) {}
    UniqueHandleKernel mutex_;  // held, not owned in the mutex sense: its existence is the lock
};

// Brings the other loader's visible window (wizard or download dialog) to the front.
void BringOtherLoaderToFront();

}  // namespace rvz
