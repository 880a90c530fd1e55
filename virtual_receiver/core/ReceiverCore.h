/* The virtual receiver's behaviour, for its HID minidriver: the report protocol, the faults it
 * shows on request, the answers it owes and the output reports it has received. Freestanding C:
 * the driver has no runtime library. The caller serialises access. */
#ifndef WAVELARK_RECEIVER_CORE_H
#define WAVELARK_RECEIVER_CORE_H

#include "wire/ReceiverWire.h"

#ifdef __cplusplus
extern "C"
{
#endif

    typedef unsigned char RcByte;
    /* A moment, in 100 ns units of the performance counter's clock. */
    typedef unsigned long long RcStamp;

    enum
    {
        /* Answers owed and received reports kept; older ones are dropped first. */
        kRcAnswersKept = 16,
        kRcLogKept = 1024,
    };

    typedef struct ReceiverCore
    {
        RcByte band;
        unsigned short code;
        WireFault fault;
        unsigned short faultValue;
        unsigned answered; /* queries answered since the start */
        RcByte answers[kRcAnswersKept][kWireDataBytes];
        RcStamp answersDue[kRcAnswersKept];
        unsigned answersHead, answersOwed;
        RcByte log[kRcLogKept][kWireDataBytes];
        RcStamp logStamps[kRcLogKept];
        unsigned long received; /* output reports received since the start */
        unsigned long selected;
        RcByte plainAudio; /* its audio input ignores buffer suggestions, as an input without them */
    } ReceiverCore;

    /* A fresh start tuned to `band` and `code`, showing `fault`. */
    void RcStart(ReceiverCore* core, RcByte band, unsigned short code, WireFault fault, unsigned short faultValue);

    /* An output report's data bytes (after its report id) arrive at `stamp` (kept in the log).
     * Returns 0 when the write fails. A tune command retunes; a query owes an answer when the
     * receiver answers. */
    int RcReceive(ReceiverCore* core, const RcByte* data, unsigned length, RcStamp stamp);

    /* Takes the oldest answer owed into `data` (kWireDataBytes bytes) if it is due at `now`;
     * 0 when none is. */
    int RcTakeAnswer(ReceiverCore* core, RcByte* data, RcStamp now);

    /* When the oldest answer owed is due, into `due`; 0 when none is owed. */
    int RcNextAnswerDue(const ReceiverCore* core, RcStamp* due);

    /* Whether a query now gets an answer: not silent and not unplugged. */
    int RcAnswering(const ReceiverCore* core);

    /* The feature report: `data` holds its data bytes, `length` of them. Set returns 0 for a
     * request it does not know or a report too short for it; read fills what fits. */
    int RcSetFeature(ReceiverCore* core, const RcByte* data, unsigned length);
    void RcGetFeature(const ReceiverCore* core, RcByte* data, unsigned length);

    /* The tone the receiver's audio input plays for what a feature report read says, in whole Hz:
     * FM f MHz as (f - 80) x 100 Hz, AM k kHz as k Hz; 0 (silence) when it does not answer or the
     * read is too short to say. */
    int RcToneHz(const RcByte* feature, unsigned length);

#ifdef __cplusplus
}
#endif

#endif
