#include "app/WavelarkPlayerDlg.h"
#include "framework/OsCalls.h"
#include "graph/DShowHelpers.h"
#include "res/resource.h"
#include "support/FakeFilter.h"
#include "support/ModalDriver.h"
#include "support/ScopedOsCall.h"
#include "virtual_receiver/audio/SimAudioSource.h"

#include <gtest/gtest.h>

#include <uuids.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace
{
// The OS calls of the playback side, observed and answered by the test.
struct FakeOs
{
    static inline std::vector<std::string> messages;
    static inline std::optional<DWORD> speakerConfig = DSSPEAKER_STEREO; // none: DirectSound is unavailable
    static inline bool outOfMemory = false;                              // DirectSoundCreate raises bad_alloc
    static inline std::vector<std::pair<UINT, UINT>> settings;           // keep-awake calls: action, parameter
    static inline int screenSaver = 1, powerOff = 0;
    static inline std::vector<EXECUTION_STATE> executionStates;

    static int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR, UINT) { return messages.emplace_back(text), IDOK; }
    static HRESULT WINAPI DirectSoundCreate(LPCGUID, IDirectSound** sound, IUnknown*);
    static EXECUTION_STATE WINAPI SetThreadExecutionState(EXECUTION_STATE state)
    {
        return executionStates.push_back(state), ES_CONTINUOUS;
    }
    static BOOL WINAPI SystemParametersInfoA(UINT action, UINT parameter, PVOID value, UINT flags)
    {
        const bool get = action == SPI_GETSCREENSAVEACTIVE || action == SPI_GETPOWEROFFACTIVE;
        settings.emplace_back(action, parameter);
        EXPECT_EQ(get ? 0u : SPIF_SENDWININICHANGE, flags);
        int& setting = action == SPI_GETSCREENSAVEACTIVE || action == SPI_SETSCREENSAVEACTIVE ? screenSaver : powerOff;
        (get ? *static_cast<int*>(value) : setting) = get ? setting : static_cast<int>(parameter);
        return TRUE;
    }
};

// Just enough of DirectSound for the speaker configuration.
class FakeSound final : public ComObject<IDirectSound>
{
  public:
    STDMETHODIMP CreateSoundBuffer(LPCDSBUFFERDESC, IDirectSoundBuffer**, IUnknown*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCaps(LPDSCAPS) override { return E_NOTIMPL; }
    STDMETHODIMP DuplicateSoundBuffer(IDirectSoundBuffer*, IDirectSoundBuffer**) override { return E_NOTIMPL; }
    STDMETHODIMP SetCooperativeLevel(HWND, DWORD level) override { return level == DSSCL_NORMAL ? S_OK : E_FAIL; }
    STDMETHODIMP Compact() override { return E_NOTIMPL; }
    STDMETHODIMP GetSpeakerConfig(LPDWORD config) override { return *config = *FakeOs::speakerConfig, S_OK; }
    STDMETHODIMP SetSpeakerConfig(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Initialize(LPCGUID) override { return E_NOTIMPL; }

  private:
    void* Find(REFIID) override { return nullptr; }
};

HRESULT WINAPI FakeOs::DirectSoundCreate(LPCGUID, IDirectSound** sound, IUnknown*)
{
    if (outOfMemory)
        throw std::bad_alloc();
    *sound = speakerConfig ? new FakeSound() : nullptr;
    return speakerConfig ? S_OK : DSERR_NODRIVER;
}

class Playback : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        FakeOs::messages.clear();
        FakeOs::executionStates.clear();
    }
    void TearDown() override { EXPECT_EQ(0, LiveComObjects()); }

    ScopedOsCall m_messageBox{&OsCalls::MessageBoxA, &FakeOs::MessageBoxA};
    ScopedOsCall m_sound{&OsCalls::DirectSoundCreate, &FakeOs::DirectSoundCreate};
    ScopedOsCall m_parameters{&OsCalls::SystemParametersInfoA, &FakeOs::SystemParametersInfoA};
    ScopedOsCall m_keepAwake{&OsCalls::SetThreadExecutionState, &FakeOs::SetThreadExecutionState};
};

// Whether the running-object table lists `graph` as graph tools look for it.
bool RotHoldsOurGraph(IGraphBuilder* graph)
{
    wchar_t name[128];
    swprintf(name, 128, L"FilterGraph %08p pid %08x (WavelarkPlayer)", static_cast<void*>(graph),
             static_cast<unsigned>(::GetCurrentProcessId()));
    ComPtr<IMoniker> moniker;
    ComPtr<IRunningObjectTable> table;
    return graph && SUCCEEDED(::CreateItemMoniker(L"!", name, moniker.Put())) &&
           SUCCEEDED(::GetRunningObjectTable(0, table.Put())) && table->IsRunning(moniker.Get()) == S_OK;
}

// The dialog with its Play and Stop handlers in reach, as the buttons reach them.
struct PlayerDialog : CWavelarkPlayerDlg
{
    using CWavelarkPlayerDlg::OnPlayCommand;
    using CWavelarkPlayerDlg::OnStop;
};

FakeShape Device(const wchar_t* name, BYTE id, std::vector<FakePin> pins = {})
{
    return {name, TestGuid(0x4a, id), pins};
}

// Each row opens its own device; an open that fails ends in Closing with its text and leaves
// nothing in the running-object table.
TEST_F(Playback, EachOpenEndsWithItsTextAndARotEntryOnlyWhenLoaded)
{
    const FakePin pcmOutput = {L"Out", PINDIR_OUTPUT, {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}}};
    // The row's name; its device; the display name asked for (null: the registered device's own);
    // a class that makes nothing; the failure's text (empty: it loads); the one message shown, if
    // any; whether memory runs out half-way.
    const std::tuple<const char*, FakeShape, const wchar_t*, CLSID, const char*, const char*, bool> cases[] = {
        {"no device found", Device(L"WaveLARK input", 1), L"", GUID_NULL, "No capture filters", nullptr, false},
        {"stale display name", Device(L"WaveLARK input", 2),
         L"@device:sw:{33D9A762-90C8-11D0-BD43-00A0C911CE86}\\{5A4D0B7E-9C1F-4E5B-8E3A-2F9D6C7B4AFF}", GUID_NULL,
         "Can't create video capture filter", nullptr, false},
        {"graph object refused", Device(L"WaveLARK input", 3), nullptr, CLSID_FilterGraph,
         "Failed to create the filter graph object", nullptr, false},
        {"capture graph builder refused", Device(L"WaveLARK input", 4), nullptr, CLSID_CaptureGraphBuilder2,
         "Can't create capture graph builder object", nullptr, false},
        {"filter refused by the graph",
         With(Device(L"WaveLARK input", 5), [](FakeShape& s) { s.refusesGraphs = true; }), nullptr, GUID_NULL,
         "Can't add audio capture filter to the graph", nullptr, false},
        {"a source without a capture pin still loads", Device(L"WaveLARK input", 6, {pcmOutput}), nullptr, GUID_NULL,
         "", "No audio capture pin found", false},
        {"memory runs out half-way", Device(L"WaveLARK input", 7), nullptr, GUID_NULL,
         "Not enough memory to open the audio input", nullptr, true},
    };
    for (const auto& [name, shape, displayName, refusedClass, failure, message, outOfMemory] : cases)
    {
        SCOPED_TRACE(name);
        FakeOs::messages.clear();
        RegisteredFake device(shape, 0x200000, &CLSID_AudioInputDeviceCategory);
        std::optional<ServedFilter> refused;
        if (refusedClass != GUID_NULL)
            refused.emplace(refusedClass, L"", [] { return nullptr; });
        PlayerDialog dialog;
        FakeOs::outOfMemory = outOfMemory;
        auto request = std::make_unique<OpenDeviceData>();
        request->m_displayName = displayName ? displayName : device.DisplayName();
        const bool loads = *failure == 0, opened = dialog.StartOpen(request.release());
        FakeOs::outOfMemory = false;
        EXPECT_EQ(std::make_tuple(loads, std::string(failure), loads ? LoadState::Loaded : LoadState::Closing, loads,
                                  loads, message ? std::vector<std::string>{message} : std::vector<std::string>{}),
                  std::make_tuple(opened, std::string(dialog.m_lastError.GetString()), dialog.m_loadState,
                                  dialog.m_rotCookie != 0, RotHoldsOurGraph(dialog.m_graph.Get()), FakeOs::messages))
            << "opened, the text, the state, registered, listed, the messages";
        EXPECT_FALSE(dialog.StartOpen(new OpenDeviceData())) << "one open per run";
        if (!loads)
        {
            // Play and Stop after a failed open do nothing: no graph, no timer, no display state.
            FakeOs::executionStates.clear();
            dialog.OnPlayCommand();
            dialog.OnStop();
            EXPECT_TRUE(FakeOs::executionStates.empty());
        }
    }
}

// The virtual receiver's audio input is found among the inputs, beside one whose name cannot
// be read (it still has its entry in both lists) and one named in other case, and its graph
// ends in the default renderer through a Smart Tee whose preview output stays free.
TEST_F(Playback, TheReceiversInputIsFoundAndItsGraphLeadsThroughASmartTee)
{
    RegisteredFake unnamed(Device(L"Nameless input", 0x0A), 0x200000, &CLSID_AudioInputDeviceCategory);
    RegisteredFake otherCase(Device(L"wavelark lower case", 0x0D), 0x200000, &CLSID_AudioInputDeviceCategory);
    {
        // Two marked inputs, one with the marker inside a longer name: the later in the list wins.
        RegisteredFake tuner(Device(L"My WaveLARK tuner", 0xFA), 0x200000, &CLSID_AudioInputDeviceCategory);
        CWavelarkPlayerDlg listing;
        listing.ListAudioInputDevices();
        std::vector<int> marked;
        for (int i = 0; i < listing.m_deviceFriendlyNames.GetSize(); ++i)
            if (listing.m_deviceFriendlyNames.GetAt(i).Find("WaveLARK") >= 0)
                marked.push_back(i);
        ASSERT_EQ(2u, marked.size());
        EXPECT_EQ(std::string(listing.m_deviceDisplayNames.GetAt(marked.back()).GetString()),
                  listing.m_selectedDeviceName.GetString());
    }
    const std::string instance = std::string("CLSID\\{33D9A762-90C8-11D0-BD43-00A0C911CE86}\\Instance\\") +
                                 CStringFromGUID(TestGuid(0x4a, 0x0A)).GetString();
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteKeyValueA(HKEY_CLASSES_ROOT, instance.c_str(), "FriendlyName"));
    PlayerDialog dialog;
    dialog.ListAudioInputDevices();
    ASSERT_EQ(dialog.m_deviceFriendlyNames.GetSize(), dialog.m_deviceDisplayNames.GetSize());
    for (int i = 0; i < dialog.m_deviceDisplayNames.GetSize(); ++i)
        EXPECT_TRUE(dialog.m_deviceDisplayNames.GetAt(i) != TextFromWide(unnamed.DisplayName().c_str()) ||
                    dialog.m_deviceFriendlyNames.GetAt(i).IsEmpty());
    EXPECT_EQ(std::string("@device:sw:") + CStringFromGUID(CLSID_AudioInputDeviceCategory).GetString() + "\\" +
                  CStringFromGUID(CLSID_SimAudioSource).GetString(),
              dialog.m_selectedDeviceName.GetString());
    dialog.HandOverSelectedDevice();
    ASSERT_EQ(LoadState::Loaded, dialog.m_loadState);
    EXPECT_EQ(PlaybackMode::Capture, dialog.m_playbackMode);
    EXPECT_TRUE(RotHoldsOurGraph(dialog.m_graph.Get()));
    EXPECT_EQ(L"Smart Tee (audio)", PeerFilterName(FindPin(dialog.m_audioCapture.Get(), L"Capture").Get()));
    ComPtr<IBaseFilter> tee;
    ASSERT_HRESULT_SUCCEEDED(dialog.m_graph->FindFilterByName(L"Smart Tee (audio)", tee.Put()));
    EXPECT_EQ(L"", PeerFilterName(FindPin(tee.Get(), L"Preview").Get())) << "the preview stays free";
    EXPECT_NE(L"", PeerFilterName(FindPin(tee.Get(), L"Capture").Get())) << "the capture output is rendered";
    // Asked for 30 ms before it connected: a step is heard within a buffer, not half a second.
    ComPtr<IAMBufferNegotiation> negotiation;
    ALLOCATOR_PROPERTIES buffers = {};
    ASSERT_HRESULT_SUCCEEDED(FindPin(dialog.m_audioCapture.Get(), L"Capture")
                                 ->QueryInterface(IID_IAMBufferNegotiation, negotiation.PutVoid()));
    EXPECT_HRESULT_SUCCEEDED(negotiation->GetAllocatorProperties(&buffers));
    EXPECT_EQ(44100 * 4 * 30 / 1000, buffers.cbBuffer);
}

// The receiver's input opens and loads whatever becomes of the Smart Tee, but only a tee with
// both outputs gets its capture output rendered: no tee at all, or one without "Preview", leaves
// the receiver unheard rather than wired past the tee.
TEST_F(Playback, WithoutAWholeSmartTeeNothingIsRendered)
{
    const TypePair pcm = {MEDIATYPE_Audio, MEDIASUBTYPE_PCM};
    const FakeShape previewless = {
        L"Tee without preview", CLSID_SmartTee, {{L"Input", PINDIR_INPUT, {pcm}}, {L"Capture", PINDIR_OUTPUT, {pcm}}}};

    for (const bool teeMade : {false, true})
    {
        SCOPED_TRACE(teeMade ? "a tee without its Preview pin" : "no Smart Tee");
        std::optional<ServedFilter> refused;
        std::optional<RegisteredFake> tee;
        if (teeMade)
            tee.emplace(previewless, 0, nullptr);
        else
            refused.emplace(CLSID_SmartTee, L"", [] { return nullptr; });
        PlayerDialog dialog;
        dialog.ListAudioInputDevices();
        dialog.HandOverSelectedDevice();
        ASSERT_EQ(LoadState::Loaded, dialog.m_loadState);
        if (!teeMade)
        {
            EXPECT_EQ(L"", PeerFilterName(FindPin(dialog.m_audioCapture.Get(), L"Capture").Get()));
        }
        const std::wstring names = GraphFilterNames(dialog.m_graph.Get());
        EXPECT_EQ(teeMade ? 1 : 0, std::count(names.begin(), names.end(), L',')) << "no renderer: " << names;
    }
}

// Up to four bytes under "AUDIO" are another program's number whatever their type; the player
// raises it to what the speakers need and never lowers it, and counts a longer value as 0.
TEST_F(Playback, TheDecoderSettingFollowsTheSpeakerConfiguration)
{
    // The row's name; the speaker configuration (none: no DirectSound); the type of the stored
    // value (REG_NONE: none stored); its bytes; the number afterwards.
    const std::tuple<const char*, std::optional<DWORD>, DWORD, std::vector<BYTE>, DWORD> cases[] = {
        {"6 stays with stereo", DSSPEAKER_STEREO, REG_DWORD, {6, 0, 0, 0}, 6},
        {"1 becomes 2 with stereo", DSSPEAKER_STEREO, REG_DWORD, {1, 0, 0, 0}, 2},
        {"a missing value is created", DSSPEAKER_STEREO, REG_NONE, {}, 2},
        {"direct out", DSSPEAKER_DIRECTOUT, REG_DWORD, {0, 0, 0, 0}, 6},
        {"mono", DSSPEAKER_MONO, REG_NONE, {}, 1},
        {"headphone", DSSPEAKER_HEADPHONE, REG_NONE, {}, 2},
        {"quad", DSSPEAKER_QUAD, REG_NONE, {}, 4},
        {"surround", DSSPEAKER_SURROUND, REG_NONE, {}, 2},
        {"5.1", DSSPEAKER_5POINT1, REG_NONE, {}, 5},
        {"7.1", DSSPEAKER_7POINT1, REG_NONE, {}, 5},
        {"geometry bits", DSSPEAKER_COMBINED(DSSPEAKER_STEREO, DSSPEAKER_GEOMETRY_WIDE), REG_NONE, {}, 2},
        {"no DirectSound writes 0", std::nullopt, REG_NONE, {}, 0},
        {"a longer value counts as 0", DSSPEAKER_STEREO, REG_BINARY, {7, 0, 0, 0, 0, 0, 0, 0}, 2},
        {"a shorter value is its number too", DSSPEAKER_STEREO, REG_BINARY, {7, 0}, 7},
        {"one byte", DSSPEAKER_QUAD, REG_BINARY, {5}, 5},
        {"four bytes of another type are its number", DSSPEAKER_STEREO, REG_BINARY, {6, 0, 0, 0}, 6},
    };
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\InterVideo\\Common\\AudioDec", 0, nullptr,
                                               0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    for (const auto& [name, speakers, type, stored, expected] : cases)
    {
        (void)::RegDeleteValueA(key, "AUDIO"); // absent already when the row before stored none
        if (type != REG_NONE)
            ::RegSetValueExA(key, "AUDIO", 0, type, stored.data(), static_cast<DWORD>(stored.size()));
        FakeOs::speakerConfig = speakers;
        CWavelarkPlayerDlg().ApplyDecoderSpeakerSetting();
        DWORD value = 0, size = sizeof(value); // a value left as it was may be shorter, of any type
        EXPECT_EQ(ERROR_SUCCESS, ::RegGetValueA(key, nullptr, "AUDIO", RRF_RT_ANY, nullptr, &value, &size));
        EXPECT_EQ(expected, value) << name;
    }
    FakeOs::speakerConfig = DSSPEAKER_STEREO;
    ::RegCloseKey(key);
}

// What the user does: Play, a second, Stop, Play again and the tray's Exit. While the graph runs
// each keep-awake tick restarts both countdowns and leaves the settings as they were, and the
// display is required.
TEST_F(Playback, PlayKeepsTheScreenAwakeUntilStopOrExit)
{
    PlayerDialog dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 ASSERT_EQ(LoadState::Loaded, dialog.m_loadState);
                 const auto tick = [&]
                 {
                     FakeOs::settings.clear();
                     ::SendMessageW(window, WM_TIMER, CWavelarkPlayerDlg::kKeepAwakeTimer, 0);
                     return FakeOs::settings;
                 };
                 const auto play = [&]
                 {
                     ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_PLAY, BN_CLICKED), 0);
                     EXPECT_TRUE(WaitUntil([&] { return dialog.GetGraphState() == State_Running; }));
                 };
                 EXPECT_TRUE(tick().empty()) << "nothing while stopped";
                 play();
                 FakeOs::settings.clear();
                 EXPECT_TRUE(WaitUntil([&] { return !FakeOs::settings.empty(); }, 2500)) << "the timer ticks by itself";
                 const std::vector<std::pair<UINT, UINT>> restart = {
                     {SPI_GETSCREENSAVEACTIVE, 0}, {SPI_SETSCREENSAVEACTIVE, 0}, {SPI_SETSCREENSAVEACTIVE, 1},
                     {SPI_GETPOWEROFFACTIVE, 0},   {SPI_SETPOWEROFFACTIVE, 0},   {SPI_SETPOWEROFFACTIVE, 0}};
                 EXPECT_EQ(restart, tick());
                 EXPECT_EQ(1, FakeOs::screenSaver);
                 EXPECT_EQ(0, FakeOs::powerOff);
                 ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_STOP, BN_CLICKED), 0);
                 EXPECT_EQ(State_Stopped, dialog.GetGraphState());
                 EXPECT_FALSE(::KillTimer(window, CWavelarkPlayerDlg::kKeepAwakeTimer)) << "Stop killed it";
                 EXPECT_TRUE(tick().empty());
                 play();
                 // A graph that stops by itself no longer keeps the display on after the next tick.
                 (void)dialog.m_mediaControl->Stop();
                 EXPECT_TRUE(tick().empty());
                 play();
                 ::PostMessageW(window, WM_COMMAND, ID_TRAY_EXIT, 0);
                 EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }));
             });
    EXPECT_EQ(State_Stopped, dialog.GetGraphState()) << "Exit stops the graph before the dialog ends";
    // The display is required while the graph runs, and released at Stop, when it stops by itself
    // and at Exit.
    const EXECUTION_STATE running = ES_CONTINUOUS | ES_DISPLAY_REQUIRED, released = ES_CONTINUOUS;
    EXPECT_EQ(std::vector<EXECUTION_STATE>({running, released, running, released, running, released}),
              FakeOs::executionStates);
}

} // namespace
