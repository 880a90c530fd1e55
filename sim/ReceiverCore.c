#include "sim/ReceiverCore.h"

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

void RcStart(ReceiverCore* core, RcByte band, unsigned short code, RcFault fault, unsigned short faultValue)
{
    core->band = band;
    core->code = code;
    core->fault = fault < kRcFaultCount ? fault : kRcFaultNone;
    core->faultValue = faultValue;
    core->answered = 0;
    core->answersHead = core->answersOwed = 0;
    core->received = core->selected = 0;
    core->plainAudio = 0;
}

static int Unplugged(const ReceiverCore* core)
{
    return core->fault == kRcFaultUnplugAfter && core->answered >= core->faultValue;
}

int RcAnswering(const ReceiverCore* core)
{
    return core->fault != kRcFaultSilent && core->fault != kRcFaultNoReceiver && !Unplugged(core);
}

int RcWritesFail(const ReceiverCore* core)
{
    return core->fault == kRcFaultWriteFails || Unplugged(core);
}

unsigned RcReportBytes(const ReceiverCore* core)
{
    return core->fault == kRcFaultOversize ? kRcOversizeReportBytes : kRcReportBytes;
}

/* The answer is what the receiver is tuned to when the query arrives: `00 status band hi lo`
 * after the report id, with status 0 unless a fault says otherwise. */
static void OweAnswer(ReceiverCore* core)
{
    if (core->answersOwed == kRcAnswersKept)
    {
        core->answersHead = (core->answersHead + 1) % kRcAnswersKept;
        --core->answersOwed;
    }
    RcByte* answer = core->answers[(core->answersHead + core->answersOwed) % kRcAnswersKept];
    answer[0] = core->fault == kRcFaultStatus ? (RcByte)core->faultValue : 0;
    answer[1] = core->fault == kRcFaultBand ? (RcByte)core->faultValue : core->band;
    PutHighFirst(&answer[2], core->code, 2);
    answer[4] = answer[5] = 0;
    ++core->answersOwed;
    ++core->answered;
}

int RcReceive(ReceiverCore* core, const RcByte* data, unsigned length, unsigned long long stamp)
{
    if (RcWritesFail(core))
        return 0;
    core->logStamps[core->received % kRcLogKept] = stamp;
    RcByte* logged = core->log[core->received % kRcLogKept];
    for (unsigned i = 0; i < kRcDataBytes; ++i)
        logged[i] = i < length ? data[i] : 0;
    ++core->received;
    if (length >= 4 && data[0] == kRcTuneCommand)
    {
        core->band = data[1];
        core->code = HighFirst16(&data[2]);
    }
    else if (length >= 1 && data[0] == kRcQueryCommand && RcAnswering(core))
    {
        OweAnswer(core);
    }
    return 1;
}

int RcTakeAnswer(ReceiverCore* core, RcByte* data)
{
    if (!core->answersOwed)
        return 0;
    CopyBytes(data, core->answers[core->answersHead], kRcDataBytes);
    core->answersHead = (core->answersHead + 1) % kRcAnswersKept;
    --core->answersOwed;
    return 1;
}

void RcDropAnswers(ReceiverCore* core)
{
    core->answersHead = core->answersOwed = 0;
}

int RcSetFeature(ReceiverCore* core, const RcByte* data, unsigned length)
{
    if (length >= 8 && data[0] == kRcSetState)
    {
        RcStart(core, data[4], HighFirst16(&data[5]), (RcFault)data[1], HighFirst16(&data[2]));
        core->plainAudio = length > 7 && data[7];
        return 1;
    }
    if (length >= 5 && data[0] == kRcSelectLog)
    {
        core->selected = (unsigned long)data[1] << 24 | (unsigned long)data[2] << 16 | HighFirst16(&data[3]);
        return 1;
    }
    return 0;
}

void RcGetFeature(const ReceiverCore* core, RcByte* data, unsigned length)
{
    RcByte feature[kRcFeatureDataBytes] = {0};
    feature[0] = core->band;
    PutHighFirst(&feature[1], core->code, 2);
    feature[3] = (RcByte)core->fault;
    PutHighFirst(&feature[4], core->faultValue, 2);
    feature[kRcGetAnswering] = (RcByte)RcAnswering(core);
    PutHighFirst(&feature[kRcGetReceived], core->received, 4);
    /* Kept when received and not yet overwritten by a newer one. */
    const int kept = core->selected < core->received && core->received - core->selected <= kRcLogKept;
    feature[kRcGetSelectedKept] = (RcByte)kept;
    if (kept)
    {
        CopyBytes(&feature[kRcGetSelected], core->log[core->selected % kRcLogKept], kRcDataBytes);
        PutHighFirst(&feature[kRcGetSelectedStamp], core->logStamps[core->selected % kRcLogKept], 8);
    }
    feature[kRcGetPlainAudio] = core->plainAudio;
    CopyBytes(data, feature, length < kRcFeatureDataBytes ? length : kRcFeatureDataBytes);
}

int RcToneHz(const RcByte* feature, unsigned length)
{
    if (length <= kRcGetAnswering || !feature[kRcGetAnswering])
        return 0;
    const unsigned short code = HighFirst16(&feature[1]);
    /* The FM code counts whole tenths of a MHz from -10.7 in steps of 8. */
    if (feature[0] == kRcBandFm)
        return (code / 8 - 107 - 800) * 10;
    if (feature[0] == kRcBandAm)
        return code - 450;
    return 0;
}
