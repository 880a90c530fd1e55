// The playback state of the main dialog and the open requests that carry a device to it.
#pragma once

#include <string>

enum class LoadState : int
{
    Closed = 0,
    Opening = 1,
    Loaded = 2,
    Closing = 3,
};

enum class PlaybackMode : int
{
    None = 0,
    Capture = 3,
};

// Heap objects, deleted through the base by whoever owns them.
class OpenMediaData
{
  public:
    virtual ~OpenMediaData() = default;
};

class OpenDeviceData : public OpenMediaData
{
  public:
    std::wstring m_displayName; // the capture device's moniker display name; empty when none was found
};
