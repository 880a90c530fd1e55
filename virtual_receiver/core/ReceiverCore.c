#include "virtual_receiver/core/ReceiverCore.h"

static unsigned short HighFirst16(const RcByte* bytes)
{
    return (unsigned short)(bytes[0] << 8 | bytes[1]);
}

static void PutHighFirst(RcByte* bytes, unsigned long long value, unsigned count)
{
    for (unsigned i = 0; i < count; ++i)
        bytes[i] = (RcByte)(value >> 8 * (count - 1 - i));
}

static void CopyBytes(RcByte* to, const RcByte* from, unsigned count)
{
    for (unsigned i = 0; i < count; ++i)
        to[i] = from[i];
}

void RcStart(ReceiverCore* core, RcByte band, unsigned short code, WireFault fault, unsigned short faultValue)
{
    core->band = band;
    core->code = code;
    core->fault = fault < kWireFaultCount ? fault : kWireFaultNone;
    core->faultValue = faultValue;
    core->answered = 0;
    core->answersHead = core->answersOwed = 0;
    core->received = core->selected = 0;
    core->plainAudio = 0;
}

static int Unplugged(const ReceiverCore* core)
{
    return core->fault == kWireFaultUnplugAfter && core->answered >= core->faultValue;
}

int RcAnswering(const ReceiverCore* core)
{
    return core->fault != kWireFaultSilent && !Unplugged(core);
}

static int WritesFail(const ReceiverCore* core)
{
    return core->fault == kWireFaultWriteFails || Unplugged(core);
}

/* The answer is what the receiver is tuned to when the query arrives: `00 status band hi lo`
 * after the report id, with status 0 unless a fault says otherwise. */
static void OweAnswer(ReceiverCore* core, RcStamp asked)
{
    if (core->answersOwed == kRcAnswersKept)
    {
        core->answersHead = (core->answersHead + 1) % kRcAnswersKept;
        --core->answersOwed;
    }
    const unsigned slot = (core->answersHead + core->answersOwed) % kRcAnswersKept;
    RcByte* answer = core->answers[slot];
    core->answersDue[slot] = asked + (core->fault == kWireFaultLate ? core->faultValue * 10000ULL : 0);
    answer[0] = core->fault == kWireFaultStatus ? (RcByte)core->faultValue : 0;
    answer[1] = core->fault == kWireFaultBand ? (RcByte)core->faultValue : core->band;
    PutHighFirst(&answer[2], core->code, 2);
    answer[4] = answer[5] = 0;
    ++core->answersOwed;
    ++core->answered;
}

int RcReceive(ReceiverCore* core, const RcByte* data, unsigned length, RcStamp stamp)
{
    if (WritesFail(core))
        return 0;
    core->logStamps[core->received % kRcLogKept] = stamp;
    RcByte* logged = core->log[core->received % kRcLogKept];
    for (unsigned i = 0; i < kWireDataBytes; ++i)
        logged[i] = i < length ? data[i] : 0;
    ++core->received;
    if (length >= 4 && data[0] == kWireTuneCommand)
    {
        core->band = data[1];
        core->code = HighFirst16(&data[2]);
    }
    else if (length >= 1 && data[0] == kWireQueryCommand && RcAnswering(core))
    {
        OweAnswer(core, stamp);
    }
    return 1;
}

int RcTakeAnswer(ReceiverCore* core, RcByte* data, RcStamp now)
{
    RcStamp due;
    if (!RcNextAnswerDue(core, &due) || due > now)
        return 0;
    CopyBytes(data, core->answers[core->answersHead], kWireDataBytes);
    core->answersHead = (core->answersHead + 1) % kRcAnswersKept;
    --core->answersOwed;
    return 1;
}

int RcNextAnswerDue(const ReceiverCore* core, RcStamp* due)
{
    if (!core->answersOwed)
        return 0;
    *due = core->answersDue[core->answersHead];
    return 1;
}

int RcSetFeature(ReceiverCore* core, const RcByte* data, unsigned length)
{
    if (length >= 8 && data[0] == kWireSetState)
    {
        RcStart(core, data[4], HighFirst16(&data[5]), (WireFault)data[1], HighFirst16(&data[2]));
        core->plainAudio = length > 7 && data[7];
        return 1;
    }
    if (length >= 5 && data[0] == kWireSelectLog)
    {
        core->selected = (unsigned long)data[1] << 24 | (unsigned long)data[2] << 16 | HighFirst16(&data[3]);
        return 1;
    }
    return 0;
}

void RcGetFeature(const ReceiverCore* core, RcByte* data, unsigned length)
{
    RcByte feature[kWireFeatureDataBytes] = {0};
    feature[0] = core->band;
    PutHighFirst(&feature[1], core->code, 2);
    feature[3] = (RcByte)core->fault;
    PutHighFirst(&feature[4], core->faultValue, 2);
    feature[kWireGetAnswering] = (RcByte)RcAnswering(core);
    PutHighFirst(&feature[kWireGetReceived], core->received, 4);
    /* Kept when received and not yet overwritten by a newer one. */
    const int kept = core->selected < core->received && core->received - core->selected <= kRcLogKept;
    feature[kWireGetSelectedKept] = (RcByte)kept;
    if (kept)
    {
        CopyBytes(&feature[kWireGetSelected], core->log[core->selected % kRcLogKept], kWireDataBytes);
        PutHighFirst(&feature[kWireGetSelectedStamp], core->logStamps[core->selected % kRcLogKept], 8);
    }
    feature[kWireGetPlainAudio] = core->plainAudio;
    CopyBytes(data, feature, length < kWireFeatureDataBytes ? length : kWireFeatureDataBytes);
}

int RcToneHz(const RcByte* feature, unsigned length)
{
    if (length <= kWireGetAnswering || !feature[kWireGetAnswering])
        return 0;
    const unsigned short code = HighFirst16(&feature[1]);
    /* The FM code counts whole tenths of a MHz from -10.7 in steps of 8. */
    if (feature[0] == kWireBandFm)
        return (code / 8 - 107 - 800) * 10;
    if (feature[0] == kWireBandAm)
        return code - 450;
    return 0;
}
