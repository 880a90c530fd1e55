#include "app/WavelarkPlayerDlg.h"
#include "framework/OsCalls.h"
#include "graph/DShowHelpers.h"
#include "graph/TestFilters.h"
#include "res/resource.h"
#include "support/ModalDriver.h"

#include <gtest/gtest.h>

#include <uuids.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace
{
using PlayerDialog = Drivable<CWavelarkPlayerDlg>;

constexpr GUID PlaybackGuid(BYTE last)
{
    return {0x5a4d0b7e, 0x9c1f, 0x4e5b, {0x8e, 0x3a, 0x2f, 0x9d, 0x6c, 0x7b, 0x4a, last}};
}

const TypePair kPcm = {MEDIATYPE_Audio, MEDIASUBTYPE_PCM};

TestFilterShape CaptureSource(const wchar_t* name, BYTE last, bool capturePin = true, bool refusesGraphs = false)
{
    TestFilterShape shape = {name, PlaybackGuid(last), {{L"Capture", PINDIR_OUTPUT, {kPcm}}}};
    shape.pins[0].pcmFormat = true;
    shape.pins[0].capture = capturePin;
    shape.refusesGraphs = refusesGraphs;
    return shape;
}

// The OS calls of the playback side, observed and answered by the test.
struct FakeOs
{
    static inline int messageBoxes = 0;
    static inline std::string lastMessage;
    static inline std::optional<DWORD> speakerConfig; // none: DirectSound is unavailable
    static inline bool registryRefuses = false;
    static inline std::optional<DWORD> storedAudio;
    static inline int audioWrites = 0;

    static int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR, UINT)
    {
        ++messageBoxes;
        lastMessage = text ? text : "";
        return IDOK;
    }
    static LONG WINAPI RegCreateKeyExA(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY key,
                                       LPDWORD)
    {
        *key = reinterpret_cast<HKEY>(static_cast<UINT_PTR>(0x4A11));
        return registryRefuses ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    }
    // What another program stored under the value: its type and its length in bytes.
    static inline DWORD storedType = REG_DWORD;
    static inline DWORD storedSize = sizeof(DWORD);
    static LONG WINAPI RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
    {
        if (!storedAudio)
            return ERROR_FILE_NOT_FOUND;
        if (type)
            *type = storedType;
        if (*size < storedSize)
        {
            memset(data, 0xFF, *size); // the buffer holds nothing meaningful then
            *size = storedSize;
            return ERROR_MORE_DATA;
        }
        memcpy(data, &*storedAudio, sizeof(DWORD));
        *size = storedSize;
        return ERROR_SUCCESS;
    }
    static LONG WINAPI RegSetValueExA(HKEY, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size)
    {
        EXPECT_STREQ("AUDIO", name);
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
        EXPECT_EQ(4u, size);
        DWORD value;
        memcpy(&value, data, sizeof(value));
        storedAudio = value;
        ++audioWrites;
        return ERROR_SUCCESS;
    }
    static LONG WINAPI RegCloseKey(HKEY) { return ERROR_SUCCESS; }
    static HRESULT WINAPI DirectSoundCreate(LPCGUID, IDirectSound** sound, IUnknown*);
};

// Just enough of IDirectSound for the speaker configuration.
class FakeSound final : public IDirectSound
{
  public:
    STDMETHODIMP QueryInterface(REFIID, void** object) override { return *object = nullptr, E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHODIMP CreateSoundBuffer(LPCDSBUFFERDESC, IDirectSoundBuffer**, IUnknown*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCaps(LPDSCAPS) override { return E_NOTIMPL; }
    STDMETHODIMP DuplicateSoundBuffer(IDirectSoundBuffer*, IDirectSoundBuffer**) override { return E_NOTIMPL; }
    STDMETHODIMP SetCooperativeLevel(HWND, DWORD level) override { return level == DSSCL_NORMAL ? S_OK : E_FAIL; }
    STDMETHODIMP Compact() override { return E_NOTIMPL; }
    STDMETHODIMP GetSpeakerConfig(LPDWORD config) override
    {
        *config = *FakeOs::speakerConfig;
        return S_OK;
    }
    STDMETHODIMP SetSpeakerConfig(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Initialize(LPCGUID) override { return E_NOTIMPL; }

  private:
    ULONG m_refs = 1;
};

HRESULT WINAPI FakeOs::DirectSoundCreate(LPCGUID, IDirectSound** sound, IUnknown*)
{
    *sound = speakerConfig ? new FakeSound() : nullptr;
    return speakerConfig ? S_OK : DSERR_NODRIVER;
}

class Playback : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_saved = Os();
        FakeOs::messageBoxes = 0;
        FakeOs::speakerConfig = DSSPEAKER_STEREO;
        FakeOs::registryRefuses = false;
        FakeOs::storedAudio.reset();
        FakeOs::storedType = REG_DWORD;
        FakeOs::storedSize = sizeof(DWORD);
        FakeOs::audioWrites = 0;
        OsCalls& os = Os();
        os.MessageBoxA = &FakeOs::MessageBoxA;
        os.RegCreateKeyExA = &FakeOs::RegCreateKeyExA;
        os.RegQueryValueExA = &FakeOs::RegQueryValueExA;
        os.RegSetValueExA = &FakeOs::RegSetValueExA;
        os.RegCloseKey = &FakeOs::RegCloseKey;
        os.DirectSoundCreate = &FakeOs::DirectSoundCreate;
    }
    void TearDown() override { Os() = m_saved; }

    OsCalls m_saved;
};

bool RotHoldsOurGraph()
{
    ComPtr<IRunningObjectTable> table;
    ComPtr<IEnumMoniker> entries;
    if (FAILED(::GetRunningObjectTable(0, table.Put())) || FAILED(table->EnumRunning(entries.Put())))
        return false;
    ComPtr<IBindCtx> context;
    (void)::CreateBindCtx(0, context.Put());
    ComPtr<IMoniker> entry;
    while (entries->Next(1, entry.Put(), nullptr) == S_OK)
    {
        LPOLESTR name = nullptr;
        if (SUCCEEDED(entry->GetDisplayName(context.Get(), nullptr, &name)) && name)
        {
            const std::wstring text = name;
            ::CoTaskMemFree(name);
            const std::wstring pid = L"pid " + []
            {
                wchar_t digits[16];
                swprintf(digits, 16, L"%08x", static_cast<unsigned>(::GetCurrentProcessId()));
                return std::wstring(digits);
            }();
            if (text.find(L"FilterGraph ") != std::wstring::npos &&
                text.find(pid + L" (WavelarkPlayer)") != std::wstring::npos)
                return true;
        }
    }
    return false;
}

enum class Setup
{
    None,
    RefuseGraph,
    RefuseCaptureBuilder,
};

struct OpenFailureCase
{
    const char* name;
    const wchar_t* displayName; // null: the registered test device's own
    TestFilterShape device;
    Setup setup;
    const char* failure;
};

const OpenFailureCase kOpenFailures[] = {
    {"no device found", L"", CaptureSource(L"WaveLARK input", 0x01), Setup::None, "No capture filters"},
    {"stale display name", L"@device:sw:{33D9A762-90C8-11D0-BD43-00A0C911CE86}\\{5A4D0B7E-9C1F-4E5B-8E3A-2F9D6C7B4AFF}",
     CaptureSource(L"WaveLARK input", 0x02), Setup::None, "Can't create video capture filter"},
    {"graph object refused", nullptr, CaptureSource(L"WaveLARK input", 0x03), Setup::RefuseGraph,
     "Failed to create the filter graph object"},
    {"capture graph builder refused", nullptr, CaptureSource(L"WaveLARK input", 0x04), Setup::RefuseCaptureBuilder,
     "Can't create capture graph builder object"},
    {"filter refused by the graph", nullptr, CaptureSource(L"WaveLARK input", 0x05, true, true), Setup::None,
     "Can't add audio capture filter to the graph"},
};

TEST_F(Playback, EachOpenFailureEndsClosingWithItsTextAndNoRotEntry)
{
    for (const OpenFailureCase& c : kOpenFailures)
    {
        SCOPED_TRACE(c.name);
        {
            RegisteredTestFilter device(c.device, 0x200000, true, &CLSID_AudioInputDeviceCategory);
            std::optional<RefusedClass> refused;
            if (c.setup == Setup::RefuseGraph)
                refused.emplace(CLSID_FilterGraph);
            if (c.setup == Setup::RefuseCaptureBuilder)
                refused.emplace(CLSID_CaptureGraphBuilder2);
            CWavelarkPlayerDlg dialog;
            auto request = std::make_unique<OpenDeviceData>();
            request->m_displayName = c.displayName ? c.displayName : device.DisplayName();
            EXPECT_FALSE(dialog.StartOpen(request.release()));
            EXPECT_EQ(dialog.m_lastError, c.failure);
            EXPECT_EQ(LoadState::Closing, dialog.m_loadState);
            EXPECT_EQ(0u, dialog.m_rotCookie);
            EXPECT_FALSE(RotHoldsOurGraph());
            EXPECT_EQ(0, FakeOs::messageBoxes);
            // A second request is refused: one open per run.
            EXPECT_FALSE(dialog.StartOpen(new OpenDeviceData()));
        }
        EXPECT_EQ(0, LiveTestObjects());
    }
}

TEST_F(Playback, ASourceWithoutACapturePinShowsOneMessageAndStillLoads)
{
    {
        RegisteredTestFilter device(CaptureSource(L"WaveLARK input", 0x06, false), 0x200000, true,
                                    &CLSID_AudioInputDeviceCategory);
        CWavelarkPlayerDlg dialog;
        auto request = std::make_unique<OpenDeviceData>();
        request->m_displayName = device.DisplayName();
        EXPECT_TRUE(dialog.StartOpen(request.release()));
        EXPECT_EQ(1, FakeOs::messageBoxes);
        EXPECT_EQ("No audio capture pin found", FakeOs::lastMessage);
        EXPECT_EQ(LoadState::Loaded, dialog.m_loadState);
        EXPECT_TRUE(dialog.m_lastError.IsEmpty());
        EXPECT_EQ((std::vector<std::wstring>{L"WaveLARK input"}), GraphFilterNames(dialog.m_graph.Get()));
        CWavelarkPlayerDlg::RevokeGraphFromRot(&dialog.m_rotCookie);
    }
    EXPECT_EQ(0, LiveTestObjects());
}

TEST_F(Playback, TheFinishedGraphLeadsTheCapturePinThroughASmartTee)
{
    {
        RegisteredTestFilter device(CaptureSource(L"USB Audio (WaveLARK Radio)", 0x07), 0x200000, true,
                                    &CLSID_AudioInputDeviceCategory);
        CWavelarkPlayerDlg dialog;
        dialog.ListAudioInputDevices();
        ASSERT_EQ(dialog.m_deviceFriendlyNames.GetSize(), dialog.m_deviceDisplayNames.GetSize());
        EXPECT_EQ(dialog.m_selectedDeviceName, TextFromWide(device.DisplayName().c_str()));
        dialog.HandOverSelectedDevice();
        EXPECT_EQ(LoadState::Loaded, dialog.m_loadState);
        EXPECT_EQ(PlaybackMode::Capture, dialog.m_playbackMode);
        EXPECT_NE(0u, dialog.m_rotCookie);
        EXPECT_TRUE(RotHoldsOurGraph());

        ComPtr<IPin> capture = FindPin(dialog.m_audioCapture.Get(), L"Capture");
        EXPECT_EQ(L"Smart Tee (audio)", PeerFilterName(capture.Get()));
        ComPtr<IBaseFilter> tee;
        ASSERT_HRESULT_SUCCEEDED(dialog.m_graph->FindFilterByName(L"Smart Tee (audio)", tee.Put()));
        EXPECT_EQ(L"", PeerFilterName(FindPin(tee.Get(), L"Preview").Get())) << "the preview stays free";
        EXPECT_NE(L"", PeerFilterName(FindPin(tee.Get(), L"Capture").Get())) << "the capture output is rendered";
        CWavelarkPlayerDlg::RevokeGraphFromRot(&dialog.m_rotCookie);
        capture.Reset();
        tee.Reset();
    }
    EXPECT_EQ(0, LiveTestObjects());
}

struct DecoderCase
{
    const char* name;
    std::optional<DWORD> speakerConfig;
    std::optional<DWORD> stored;
    std::optional<DWORD> expected; // none: not written
    DWORD storedType = REG_DWORD;
    DWORD storedSize = sizeof(DWORD);
};

const DecoderCase kDecoderCases[] = {
    {"6 stays with stereo", DSSPEAKER_STEREO, 6, std::nullopt},
    {"1 becomes 2 with stereo", DSSPEAKER_STEREO, 1, 2},
    {"missing value is created", DSSPEAKER_STEREO, std::nullopt, 2},
    {"equal value is written again", DSSPEAKER_5POINT1, 5, 5},
    {"direct out", DSSPEAKER_DIRECTOUT, 0, 6},
    {"mono", DSSPEAKER_MONO, std::nullopt, 1},
    {"quad", DSSPEAKER_QUAD, std::nullopt, 4},
    {"7.1", DSSPEAKER_7POINT1, std::nullopt, 5},
    {"geometry bits make another value", DSSPEAKER_COMBINED(DSSPEAKER_STEREO, DSSPEAKER_GEOMETRY_WIDE), std::nullopt,
     2},
    {"no DirectSound writes 0", std::nullopt, std::nullopt, 0},
    {"a longer value counts as 0", DSSPEAKER_STEREO, 7, 2, REG_BINARY, 8},
    {"a text counts as 0", DSSPEAKER_STEREO, 7, 2, REG_SZ},
};

TEST_F(Playback, TheDecoderSettingFollowsTheSpeakerConfiguration)
{
    for (const DecoderCase& c : kDecoderCases)
    {
        SCOPED_TRACE(c.name);
        FakeOs::speakerConfig = c.speakerConfig;
        FakeOs::storedAudio = c.stored;
        FakeOs::storedType = c.storedType;
        FakeOs::storedSize = c.storedSize;
        FakeOs::audioWrites = 0;
        CWavelarkPlayerDlg dialog;
        dialog.ApplyDecoderSpeakerSetting();
        EXPECT_EQ(c.expected ? 1 : 0, FakeOs::audioWrites);
        if (c.expected)
        {
            EXPECT_EQ(*c.expected, *FakeOs::storedAudio);
        }
    }
}

TEST_F(Playback, ARegistryThatRefusesTheKeyStillOpens)
{
    FakeOs::registryRefuses = true;
    {
        RegisteredTestFilter device(CaptureSource(L"WaveLARK input", 0x08), 0x200000, true,
                                    &CLSID_AudioInputDeviceCategory);
        CWavelarkPlayerDlg dialog;
        auto request = std::make_unique<OpenDeviceData>();
        request->m_displayName = device.DisplayName();
        EXPECT_TRUE(dialog.StartOpen(request.release()));
        EXPECT_EQ(LoadState::Loaded, dialog.m_loadState);
        EXPECT_EQ(0, FakeOs::audioWrites);
        CWavelarkPlayerDlg::RevokeGraphFromRot(&dialog.m_rotCookie);
    }
    EXPECT_EQ(0, LiveTestObjects());
}

TEST_F(Playback, PlayAndStopDoNothingAfterAFailedOpen)
{
    PlayerDialog dialog; // no WaveLARK device: the open fails at start-up
    RunModal(dialog,
             [&](HWND window)
             {
                 RunOnDialogThread(window,
                                   [&]
                                   {
                                       EXPECT_EQ(LoadState::Closing, dialog.m_loadState);
                                       EXPECT_EQ(dialog.m_lastError, "No capture filters");
                                   });
                 ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_PLAY, BN_CLICKED), 0);
                 ::SendMessageW(window, WM_COMMAND, CWavelarkPlayerDlg::kIdPlayCommand, 0);
                 RunOnDialogThread(window,
                                   [&]
                                   {
                                       EXPECT_EQ(-1, dialog.GetGraphState());
                                       // No keep-awake timer was started: killing it fails.
                                       EXPECT_FALSE(::KillTimer(window, CWavelarkPlayerDlg::kKeepAwakeTimer));
                                   });
             });
}
} // namespace

namespace
{
struct SettingCall
{
    UINT action;
    UINT parameter;
    UINT flags;
};

struct FakeSettings
{
    static inline std::vector<SettingCall> calls;
    static inline int screenSaver = 1;
    static inline int powerOff = 0;

    static BOOL WINAPI SystemParametersInfoA(UINT action, UINT parameter, PVOID value, UINT flags)
    {
        calls.push_back({action, parameter, flags});
        if (action == SPI_GETSCREENSAVEACTIVE || action == SPI_GETPOWEROFFACTIVE)
            *static_cast<int*>(value) = action == SPI_GETSCREENSAVEACTIVE ? screenSaver : powerOff;
        else if (action == SPI_SETSCREENSAVEACTIVE)
            screenSaver = static_cast<int>(parameter);
        else if (action == SPI_SETPOWEROFFACTIVE)
            powerOff = static_cast<int>(parameter);
        return TRUE;
    }
};

TEST_F(Playback, WhileRunningEachTickRestartsTheScreenSaverAndPowerOffCountdowns)
{
    FakeSettings::calls.clear();
    Os().SystemParametersInfoA = &FakeSettings::SystemParametersInfoA;
    {
        RegisteredTestFilter device(CaptureSource(L"WaveLARK input", 0x09), 0x200000, true,
                                    &CLSID_AudioInputDeviceCategory);
        PlayerDialog dialog;
        RunModal(dialog,
                 [&](HWND window)
                 {
                     RunOnDialogThread(window, [&] { ASSERT_EQ(LoadState::Loaded, dialog.m_loadState); });
                     const auto tick = [&]
                     {
                         ::SendMessageW(window, WM_TIMER, CWavelarkPlayerDlg::kKeepAwakeTimer, 0);
                         std::vector<SettingCall> made;
                         RunOnDialogThread(window, [&] { made.swap(FakeSettings::calls); });
                         return made;
                     };
                     const auto playUntilRunning = [&]
                     {
                         ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_PLAY, BN_CLICKED), 0);
                         EXPECT_TRUE(WaitUntil(
                             [&]
                             {
                                 LONG state = -1;
                                 RunOnDialogThread(window, [&] { state = dialog.GetGraphState(); });
                                 return state == State_Running;
                             }));
                     };
                     EXPECT_TRUE(tick().empty()) << "nothing while stopped";

                     playUntilRunning();
                     // The timer ticks by itself about once a second while the graph runs.
                     EXPECT_TRUE(WaitUntil(
                         [&]
                         {
                             bool ticked = false;
                             RunOnDialogThread(window, [&] { ticked = !FakeSettings::calls.empty(); });
                             return ticked;
                         },
                         2500));
                     RunOnDialogThread(window, [&] { FakeSettings::calls.clear(); });
                     const std::vector<SettingCall> made = tick();
                     const std::vector<std::pair<UINT, UINT>> expected = {
                         {SPI_GETSCREENSAVEACTIVE, 0}, {SPI_SETSCREENSAVEACTIVE, 0}, {SPI_SETSCREENSAVEACTIVE, 1},
                         {SPI_GETPOWEROFFACTIVE, 0},   {SPI_SETPOWEROFFACTIVE, 0},   {SPI_SETPOWEROFFACTIVE, 0}};
                     ASSERT_EQ(expected.size(), made.size());
                     for (size_t i = 0; i < made.size(); ++i)
                     {
                         EXPECT_EQ(expected[i].first, made[i].action) << i;
                         EXPECT_EQ(expected[i].second, made[i].parameter) << i;
                         EXPECT_EQ(i % 3 == 0 ? 0u : static_cast<UINT>(SPIF_SENDWININICHANGE), made[i].flags) << i;
                     }
                     EXPECT_EQ(1, FakeSettings::screenSaver);
                     EXPECT_EQ(0, FakeSettings::powerOff);

                     ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_STOP, BN_CLICKED), 0);
                     RunOnDialogThread(window,
                                       [&]
                                       {
                                           EXPECT_EQ(State_Stopped, dialog.GetGraphState());
                                           EXPECT_FALSE(::KillTimer(window, CWavelarkPlayerDlg::kKeepAwakeTimer))
                                               << "Stop killed it";
                                       });
                     EXPECT_TRUE(tick().empty());

                     // The tray's exit item stops a running graph before the dialog ends.
                     playUntilRunning();
                     ::PostMessageW(window, WM_COMMAND, ID_TRAY_EXIT, 0);
                     EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }));
                 });
        EXPECT_EQ(State_Stopped, dialog.GetGraphState());
        CWavelarkPlayerDlg::RevokeGraphFromRot(&dialog.m_rotCookie);
    }
    EXPECT_EQ(0, LiveTestObjects());
}
} // namespace

namespace
{
// A device whose friendly name cannot be read still gets its entry in both lists.
TEST_F(Playback, DeviceListsStayInStepAndTheLastMarkedDeviceWins)
{
    {
        RegisteredTestFilter unnamed(CaptureSource(L"Nameless input", 0x0A), 0x200000, true,
                                     &CLSID_AudioInputDeviceCategory);
        RegisteredTestFilter first(CaptureSource(L"USB Audio (WaveLARK Radio)", 0x0B), 0x200000, true,
                                   &CLSID_AudioInputDeviceCategory);
        RegisteredTestFilter second(CaptureSource(L"WaveLARK second", 0x0C), 0x200000, true,
                                    &CLSID_AudioInputDeviceCategory);
        RegisteredTestFilter otherCase(CaptureSource(L"wavelark lower case", 0x0D), 0x200000, true,
                                       &CLSID_AudioInputDeviceCategory);
        const std::string instance = std::string("CLSID\\{33D9A762-90C8-11D0-BD43-00A0C911CE86}\\Instance\\") +
                                     CStringFromGUID(PlaybackGuid(0x0A)).GetString();
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_CLASSES_ROOT, instance.c_str(), 0, KEY_SET_VALUE, &key));
        EXPECT_EQ(ERROR_SUCCESS, ::RegDeleteValueA(key, "FriendlyName"));
        ::RegCloseKey(key);

        CWavelarkPlayerDlg dialog;
        EXPECT_NO_THROW(dialog.ListAudioInputDevices());
        const int count = dialog.m_deviceFriendlyNames.GetSize();
        ASSERT_EQ(count, dialog.m_deviceDisplayNames.GetSize());
        int lastMarked = -1;
        bool sawNameless = false;
        for (int i = 0; i < count; ++i)
        {
            if (dialog.m_deviceFriendlyNames.GetAt(i).Find("WaveLARK") >= 0)
                lastMarked = i;
            if (dialog.m_deviceDisplayNames.GetAt(i) == TextFromWide(unnamed.DisplayName().c_str()))
            {
                sawNameless = true;
                EXPECT_TRUE(dialog.m_deviceFriendlyNames.GetAt(i).IsEmpty());
            }
        }
        EXPECT_TRUE(sawNameless);
        ASSERT_GE(lastMarked, 0);
        EXPECT_EQ(dialog.m_selectedDeviceName, dialog.m_deviceDisplayNames.GetAt(lastMarked));
        EXPECT_TRUE(dialog.m_selectedDeviceName == TextFromWide(first.DisplayName().c_str()) ||
                    dialog.m_selectedDeviceName == TextFromWide(second.DisplayName().c_str()));
    }
    EXPECT_EQ(0, LiveTestObjects());
}
} // namespace
