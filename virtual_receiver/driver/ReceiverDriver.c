/* The virtual receiver: a HID minidriver that presents the receiver's interface (input and
 * output reports of six data bytes without a report id) and speaks its protocol through the
 * receiver core. A vendor feature report, which the player never uses, sets the receiver's state
 * and faults and reads its state and the reports it received. Its root device's hardware id
 * says which device it is: the receiver, the receiver with 300-byte reports, or another HID
 * device of the same vendor that a player must pass over. */
#include "virtual_receiver/core/ReceiverCore.h"
#include "virtual_receiver/driver/HidMinidriver.h"

#include <sal.h>

typedef struct Kind
{
    const WCHAR* hardwareId;
    USHORT productId;
    USHORT dataBytes; /* of an input and an output report */
} Kind;

static const Kind kKinds[] = {
    {L"root\\VID_077D&PID_627A", kWireProductId, kWireDataBytes},
    {L"root\\VID_077D&PID_627A&REPORTS_300", kWireProductId, 299},
    {L"root\\VID_077D&PID_1234", 0x1234, kWireDataBytes},
};

/* Vendor page 0xFF00: input and output reports of a kind's data bytes, and the feature report's. */
enum
{
    kInputCountAt = 15,
    kOutputCountAt = 22,
};
/* clang-format off */
static const UCHAR kReportDescriptor[] = {
    0x06, 0x00, 0xFF,                   /* usage page (vendor 0xFF00) */
    0x09, 0x01,                         /* usage (1) */
    0xA1, 0x01,                         /* collection (application) */
    0x15, 0x00,                         /*   logical minimum (0) */
    0x26, 0xFF, 0x00,                   /*   logical maximum (255) */
    0x75, 0x08,                         /*   report size (8) */
    0x96, 0, 0,                         /*   report count (the kind's, at kInputCountAt) */
    0x09, 0x01,                         /*   usage (1) */
    0x81, 0x02,                         /*   input (data, variable, absolute) */
    0x96, 0, 0,                         /*   report count (the kind's, at kOutputCountAt) */
    0x09, 0x02,                         /*   usage (2) */
    0x91, 0x02,                         /*   output (data, variable, absolute) */
    0x95, kWireFeatureDataBytes,        /*   report count */
    0x09, 0x03,                         /*   usage (3) */
    0xB1, 0x02,                         /*   feature (data, variable, absolute) */
    0xC0,                               /* end collection */
};
/* clang-format on */

static const WCHAR kManufacturer[] = L"WaveLARK";
static const WCHAR kProduct[] = L"WaveLARK USB AM/FM Radio";

typedef struct Receiver
{
    KSPIN_LOCK lock; /* guards everything below */
    ReceiverCore core;
    /* The HID class driver keeps one read pending here; it is completed when an answer is
     * owed. Answering a read at once when nothing is owed would only make the class spin. */
    PIRP heldRead;
    BOOLEAN removed;
    const Kind* kind;
    UCHAR reportDescriptor[sizeof(kReportDescriptor)];
    /* While it answers late, a tick every few milliseconds hands over the answers that fell due. */
    KTIMER lateTick;
    KDPC lateTickDpc;
} Receiver;

DRIVER_INITIALIZE DriverEntry;
static DRIVER_ADD_DEVICE AddDevice;
static DRIVER_DISPATCH Pnp;
static DRIVER_DISPATCH Power;
static DRIVER_DISPATCH InternalIoctl;
static DRIVER_CANCEL CancelHeldRead;
static KDEFERRED_ROUTINE LateTick;

static Receiver* ReceiverOf(_In_ PDEVICE_OBJECT device)
{
    return (Receiver*)((PHID_DEVICE_EXTENSION)device->DeviceExtension)->MiniDeviceExtension;
}

static NTSTATUS Complete(_Inout_ PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Now, in 100 ns units of the clock the performance counter reads in every process: the log's
 * stamps are compared with programs' own. */
static RcStamp Now100ns(void)
{
    LARGE_INTEGER frequency;
    const LARGE_INTEGER ticks = KeQueryPerformanceCounter(&frequency);
    const RcStamp perSecond = (RcStamp)frequency.QuadPart, count = (RcStamp)ticks.QuadPart;
    return count / perSecond * 10000000ULL + count % perSecond * 10000000ULL / perSecond;
}

/* Takes the held read back from its cancel routine; null when there is none or it is being
 * cancelled. The caller holds the lock. */
static PIRP TakeHeldRead(_Inout_ Receiver* receiver)
{
    PIRP read = receiver->heldRead;
    if (!read || !IoSetCancelRoutine(read, NULL))
        return NULL; /* a running cancel routine completes it */
    receiver->heldRead = NULL;
    return read;
}

static void NTAPI CancelHeldRead(PDEVICE_OBJECT device, PIRP irp)
{
    Receiver* receiver = ReceiverOf(device);
    KIRQL irql;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&receiver->lock, &irql);
    if (receiver->heldRead == irp)
        receiver->heldRead = NULL;
    KeReleaseSpinLock(&receiver->lock, irql);
    Complete(irp, STATUS_CANCELLED, 0);
}

/* Completes the held read with the oldest answer owed, if both are there and the answer is due:
 * the answer's bytes, the rest of the report zero. */
static void AnswerHeldRead(_Inout_ Receiver* receiver)
{
    UCHAR answer[kWireDataBytes];
    const RcStamp now = Now100ns();
    RcStamp due;
    KIRQL irql;
    KeAcquireSpinLock(&receiver->lock, &irql);
    PIRP read = RcNextAnswerDue(&receiver->core, &due) && due <= now ? TakeHeldRead(receiver) : NULL;
    if (read)
        RcTakeAnswer(&receiver->core, answer, now);
    KeReleaseSpinLock(&receiver->lock, irql);
    if (!read)
        return;
    RtlZeroMemory(read->UserBuffer, receiver->kind->dataBytes);
    RtlCopyMemory(read->UserBuffer, answer, kWireDataBytes);
    Complete(read, STATUS_SUCCESS, receiver->kind->dataBytes);
}

static void NTAPI LateTick(PKDPC dpc, PVOID context, PVOID unused1, PVOID unused2)
{
    (void)dpc, (void)unused1, (void)unused2;
    AnswerHeldRead((Receiver*)context);
}

/* The tick runs only while the receiver answers late. Never called from the tick itself, whose
 * timer cannot be set again from its own callback. */
static void SetLateTick(_Inout_ Receiver* receiver)
{
    if (receiver->core.fault == kWireFaultLate && !receiver->removed)
    {
        LARGE_INTEGER first;
        first.QuadPart = -20000; /* 2 ms from now, then every 2 ms */
        KeSetTimerEx(&receiver->lateTick, first, 2, &receiver->lateTickDpc);
    }
    else
    {
        KeCancelTimer(&receiver->lateTick);
    }
}

static NTSTATUS HoldRead(_Inout_ Receiver* receiver, _Inout_ PIRP irp, ULONG length)
{
    if (length < receiver->kind->dataBytes)
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    KIRQL irql;
    KeAcquireSpinLock(&receiver->lock, &irql);
    if (receiver->removed || receiver->heldRead)
    {
        KeReleaseSpinLock(&receiver->lock, irql);
        return Complete(irp, STATUS_DEVICE_BUSY, 0);
    }
    IoMarkIrpPending(irp);
    receiver->heldRead = irp;
    IoSetCancelRoutine(irp, CancelHeldRead);
    /* Cancelled before the routine was set: nobody else completes it. */
    PIRP cancelled = irp->Cancel ? TakeHeldRead(receiver) : NULL;
    KeReleaseSpinLock(&receiver->lock, irql);
    if (cancelled)
        Complete(cancelled, STATUS_CANCELLED, 0);
    else
        AnswerHeldRead(receiver);
    return STATUS_PENDING;
}

/* A report through the receiver core under its lock: written to it, or the feature report set
 * or read. */
static NTSTATUS Transfer(_Inout_ Receiver* receiver, ULONG code, _In_opt_ PHID_XFER_PACKET packet,
                         _Out_ ULONG_PTR* information)
{
    *information = 0;
    if (!packet || !packet->reportBuffer)
        return STATUS_INVALID_PARAMETER;
    NTSTATUS status = STATUS_SUCCESS;
    const RcStamp arrived = Now100ns();
    KIRQL irql;
    KeAcquireSpinLock(&receiver->lock, &irql);
    if (code == IOCTL_HID_WRITE_REPORT)
    {
        if (!RcReceive(&receiver->core, packet->reportBuffer, packet->reportBufferLen, arrived))
            status = STATUS_DEVICE_NOT_CONNECTED;
        /* The whole report, its id included, as the device reports it on Windows: Wine's class
         * driver hands this count on to WriteFile. */
        *information = packet->reportBufferLen + 1;
    }
    else if (code == IOCTL_HID_SET_FEATURE)
    {
        if (!RcSetFeature(&receiver->core, packet->reportBuffer, packet->reportBufferLen))
            status = STATUS_INVALID_PARAMETER;
        *information = packet->reportBufferLen;
    }
    else
    {
        RcGetFeature(&receiver->core, packet->reportBuffer, packet->reportBufferLen);
        *information =
            packet->reportBufferLen < kWireFeatureDataBytes ? packet->reportBufferLen : kWireFeatureDataBytes;
    }
    KeReleaseSpinLock(&receiver->lock, irql);
    return status;
}

static NTSTATUS CopyOut(_Inout_ PIRP irp, ULONG room, _In_reads_bytes_(length) const void* data, ULONG length)
{
    if (!irp->UserBuffer || room < length)
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlCopyMemory(irp->UserBuffer, data, length);
    return Complete(irp, STATUS_SUCCESS, length);
}

static NTSTATUS NTAPI InternalIoctl(PDEVICE_OBJECT device, PIRP irp)
{
    Receiver* receiver = ReceiverOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
    switch (code)
    {
    case IOCTL_HID_GET_DEVICE_DESCRIPTOR:
    {
        const HID_DESCRIPTOR descriptor = {sizeof(HID_DESCRIPTOR),
                                           HID_HID_DESCRIPTOR_TYPE,
                                           0x0101,
                                           0,
                                           1,
                                           {{HID_REPORT_DESCRIPTOR_TYPE, sizeof(kReportDescriptor)}}};
        return CopyOut(irp, room, &descriptor, sizeof(descriptor));
    }
    case IOCTL_HID_GET_REPORT_DESCRIPTOR:
        return CopyOut(irp, room, receiver->reportDescriptor, sizeof(receiver->reportDescriptor));
    case IOCTL_HID_GET_DEVICE_ATTRIBUTES:
    {
        const HID_DEVICE_ATTRIBUTES attributes = {
            sizeof(HID_DEVICE_ATTRIBUTES), kWireVendorId, receiver->kind->productId, 0x0100, {0}};
        return CopyOut(irp, room, &attributes, sizeof(attributes));
    }
    case IOCTL_HID_GET_STRING:
    {
        const ULONG_PTR id = (ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;
        if (id == HID_STRING_ID_IPRODUCT)
            return CopyOut(irp, room, kProduct, sizeof(kProduct));
        if (id == HID_STRING_ID_IMANUFACTURER)
            return CopyOut(irp, room, kManufacturer, sizeof(kManufacturer));
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    case IOCTL_HID_READ_REPORT:
        return HoldRead(receiver, irp, room);
    case IOCTL_HID_WRITE_REPORT:
    case IOCTL_HID_SET_FEATURE:
    case IOCTL_HID_GET_FEATURE:
    {
        ULONG_PTR information = 0;
        const NTSTATUS status = Transfer(receiver, code, (PHID_XFER_PACKET)irp->UserBuffer, &information);
        Complete(irp, status, NT_SUCCESS(status) ? information : 0);
        if (code == IOCTL_HID_SET_FEATURE && NT_SUCCESS(status))
            SetLateTick(receiver);
        if (code != IOCTL_HID_GET_FEATURE)
            AnswerHeldRead(receiver); /* a query, or a fresh start, may owe an answer */
        return status;
    }
    default:
    {
        /* As the platform's own minidrivers do: completed with the status it came with. */
        const NTSTATUS status = irp->IoStatus.Status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    }
}

/* A receiver going away completes the read it holds, so the class driver's reader can end. */
static void Remove(_Inout_ Receiver* receiver)
{
    KIRQL irql;
    KeAcquireSpinLock(&receiver->lock, &irql);
    receiver->removed = TRUE;
    PIRP read = TakeHeldRead(receiver);
    KeReleaseSpinLock(&receiver->lock, irql);
    KeCancelTimer(&receiver->lateTick);
    if (read)
        Complete(read, STATUS_DELETE_PENDING, 0);
}

static NTSTATUS NTAPI Pnp(PDEVICE_OBJECT device, PIRP irp)
{
    Receiver* receiver = ReceiverOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction)
    {
    case IRP_MN_START_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
        Remove(receiver);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(((PHID_DEVICE_EXTENSION)device->DeviceExtension)->NextDeviceObject, irp);
}

static NTSTATUS NTAPI Power(PDEVICE_OBJECT device, PIRP irp)
{
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(((PHID_DEVICE_EXTENSION)device->DeviceExtension)->NextDeviceObject, irp);
}

static int SameIdText(_In_z_ const WCHAR* a, _In_z_ const WCHAR* b)
{
    for (;; ++a, ++b)
    {
        const WCHAR x = *a >= L'a' && *a <= L'z' ? *a - 32 : *a, y = *b >= L'a' && *b <= L'z' ? *b - 32 : *b;
        if (x != y)
            return 0;
        if (!x)
            return 1;
    }
}

/* Which device the root device is, by its first hardware id; the receiver when it cannot say. */
static const Kind* KindOf(_In_ PDEVICE_OBJECT physical)
{
    WCHAR ids[128] = {0};
    ULONG length = 0;
    if (NT_SUCCESS(IoGetDeviceProperty(physical, DevicePropertyHardwareID, sizeof(ids) - sizeof(WCHAR), ids, &length)))
    {
        for (ULONG i = 0; i < sizeof(kKinds) / sizeof(kKinds[0]); ++i)
            if (SameIdText(ids, kKinds[i].hardwareId))
                return &kKinds[i];
    }
    return &kKinds[0];
}

/* The receiver starts on FM 87.9 answering every query, as a receiver fresh from its box. */
static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT device)
{
    (void)driver;
    Receiver* receiver = ReceiverOf(device);
    RtlZeroMemory(receiver, sizeof(*receiver));
    KeInitializeSpinLock(&receiver->lock);
    KeInitializeTimerEx(&receiver->lateTick, SynchronizationTimer);
    KeInitializeDpc(&receiver->lateTickDpc, LateTick, receiver);
    receiver->kind = KindOf(((PHID_DEVICE_EXTENSION)device->DeviceExtension)->PhysicalDeviceObject);
    RtlCopyMemory(receiver->reportDescriptor, kReportDescriptor, sizeof(kReportDescriptor));
    for (int at = kInputCountAt; at <= kOutputCountAt; at += kOutputCountAt - kInputCountAt)
    {
        receiver->reportDescriptor[at] = (UCHAR)receiver->kind->dataBytes;
        receiver->reportDescriptor[at + 1] = (UCHAR)(receiver->kind->dataBytes >> 8);
    }
    RcStart(&receiver->core, kWireBandFm, 0x1ED0, kWireFaultNone, 0);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    driver->DriverExtension->AddDevice = AddDevice;
    driver->MajorFunction[IRP_MJ_PNP] = Pnp;
    driver->MajorFunction[IRP_MJ_POWER] = Power;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = InternalIoctl;
    HID_MINIDRIVER_REGISTRATION registration = {HID_REVISION, driver, registryPath, sizeof(Receiver), FALSE, {0}};
    return HidRegisterMinidriver(&registration);
}
