/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * brirelay.sys: a kernel-mode driver that plays the adapter's device for the Windows programs by
 * relaying every command to brisim over a named pipe.
 *
 * One service per device. The service key's Parameters name the device and the pipe:
 *   DeviceName (REG_SZ, default TESSIX0)   -> \Device\<DeviceName> and \DosDevices\<DeviceName>
 *   PipeName   (REG_SZ, default bri-<DeviceName>) -> \??\pipe\<PipeName>
 *
 * Each handle opened on the device gets a connection of its own to the pipe (a handle is what a
 * connection is to brisim). Each 0x160040 request with a 262200-byte buffer each way goes
 * over the connection in the device transport's framing:
 *   request: code, in_len, in_sent, out_len (u32 LE), then in_sent bytes (trailing zeros left out)
 *   reply:   ok, returned, out_sent (u32 LE), then out_sent bytes (zeros up to returned)
 * and the request completes with the reply: `returned` bytes go back to the caller. Any failure
 * (no simulator, nothing moving on the pipe for 5 s, a broken connection, a reply that does not fit,
 * ok = 0) fails
 * the request with nothing written back, and drops the connection; the next request on the handle
 * connects afresh. A request is never sent twice: it is only sent again on a fresh connection when
 * the old connection had been closed by the server before any of its bytes went out.
 *
 *   PendMs (REG_DWORD, default 0): when not 0, every request is pended (STATUS_PENDING) and relayed
 *   that many milliseconds later by a work item, as a driver that completes its requests from
 *   elsewhere does. A pended request that the caller cancels before it is relayed is completed as
 *   STATUS_CANCELLED and never reaches brisim.
 */
#include <ntifs.h>

#define RELAY_CODE 0x160040u
#define RELAY_BLOCK_SIZE 262200u
#define RELAY_TAG 0x79616c52u /* 'Rlay' */
#define RELAY_NAME_MAX 64     /* characters of a device or pipe name */
#define REPLY_TIMEOUT_MS 5000
#define CONNECT_TIMEOUT_MS 5000 /* as long as a reply may take: a loaded server makes its next instance late */
#define PEND_MS_MAX 10000

typedef struct {
  WCHAR device_chars[RELAY_NAME_MAX + 1];
  WCHAR pipe_chars[RELAY_NAME_MAX + 1];
  WCHAR link_path[RELAY_NAME_MAX + 16];
  WCHAR pipe_path[RELAY_NAME_MAX + 16];
  UNICODE_STRING link;
  UNICODE_STRING pipe;
  BOOLEAN link_made;
  ULONG pend_ms;      /* 0: requests complete in the dispatch routine */
  KSPIN_LOCK pending; /* guards every RELAY_PENDING's irp and orphan */
} RELAY_DEVICE;

#define REQUEST_HEADER_SIZE 16u

/* What one opened handle owns: its connection to the pipe. */
typedef struct {
  KMUTEX lock; /* one request at a time on the connection */
  HANDLE pipe; /* NULL while not connected */
  HANDLE event;
  /* A request's header and bytes, put together so that they go out in one write: every
     operation on the pipe is a round trip through the system (under Wine, the wineserver). */
  UCHAR* request;
} RELAY_OPEN;

DRIVER_INITIALIZE DriverEntry;

/* ---- names ---------------------------------------------------------------------------------- */

/* A device or pipe name: 1 to RELAY_NAME_MAX characters, none of them a path separator or a
   control character. */
static BOOLEAN NameIsValid(const WCHAR* name, USHORT length) {
  USHORT i;
  if (length == 0 || length > RELAY_NAME_MAX) return FALSE;
  for (i = 0; i < length; ++i) {
    if (name[i] < 0x20 || name[i] == L'\\' || name[i] == L'/') return FALSE;
  }
  return TRUE;
}

static void CopyName(WCHAR* to, const WCHAR* from, USHORT length) {
  USHORT i;
  for (i = 0; i < length; ++i) to[i] = from[i];
  to[length] = 0;
}

static USHORT NameLength(const WCHAR* name) {
  USHORT n = 0;
  while (n < RELAY_NAME_MAX && name[n] != 0) ++n;
  return n;
}

/* Reads a REG_DWORD value of the Parameters key; FALSE when it is missing or of another type. */
static BOOLEAN ReadNumberValue(HANDLE key, const WCHAR* value_name, ULONG* number) {
  UCHAR raw[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
  KEY_VALUE_PARTIAL_INFORMATION* info = (KEY_VALUE_PARTIAL_INFORMATION*)raw;
  UNICODE_STRING value;
  ULONG size = 0;
  RtlInitUnicodeString(&value, value_name);
  if (!NT_SUCCESS(ZwQueryValueKey(key, &value, KeyValuePartialInformation, info, sizeof(raw), &size))) {
    return FALSE;
  }
  if (info->Type != REG_DWORD || info->DataLength != sizeof(ULONG)) return FALSE;
  RtlCopyMemory(number, info->Data, sizeof(ULONG));
  return TRUE;
}

/* Reads a REG_SZ value of the Parameters key into name; FALSE when it is missing or unusable. */
static BOOLEAN ReadNameValue(HANDLE key, const WCHAR* value_name, WCHAR* name) {
  UCHAR raw[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + (RELAY_NAME_MAX + 1) * sizeof(WCHAR)];
  KEY_VALUE_PARTIAL_INFORMATION* info = (KEY_VALUE_PARTIAL_INFORMATION*)raw;
  UNICODE_STRING value;
  ULONG size = 0;
  USHORT length;
  RtlInitUnicodeString(&value, value_name);
  if (!NT_SUCCESS(ZwQueryValueKey(key, &value, KeyValuePartialInformation, info, sizeof(raw), &size))) {
    return FALSE;
  }
  if (info->Type != REG_SZ && info->Type != REG_EXPAND_SZ) return FALSE;
  length = (USHORT)(info->DataLength / sizeof(WCHAR));
  while (length > 0 && ((const WCHAR*)info->Data)[length - 1] == 0) --length;
  if (!NameIsValid((const WCHAR*)info->Data, length)) return FALSE;
  CopyName(name, (const WCHAR*)info->Data, length);
  return TRUE;
}

static void ReadParameters(PUNICODE_STRING registry_path, RELAY_DEVICE* dev) {
  static const WCHAR default_device[] = L"TESSIX0";
  static const WCHAR suffix[] = L"\\Parameters";
  WCHAR path_chars[512];
  UNICODE_STRING path;
  OBJECT_ATTRIBUTES attributes;
  HANDLE key = NULL;
  BOOLEAN have_device = FALSE, have_pipe = FALSE;

  path.Buffer = path_chars;
  path.Length = 0;
  path.MaximumLength = sizeof(path_chars);
  if (NT_SUCCESS(RtlAppendUnicodeStringToString(&path, registry_path)) &&
      NT_SUCCESS(RtlAppendUnicodeToString(&path, suffix))) {
    InitializeObjectAttributes(&attributes, &path, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
    if (NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) {
      have_device = ReadNameValue(key, L"DeviceName", dev->device_chars);
      have_pipe = ReadNameValue(key, L"PipeName", dev->pipe_chars);
      if (!ReadNumberValue(key, L"PendMs", &dev->pend_ms) || dev->pend_ms > PEND_MS_MAX) dev->pend_ms = 0;
      ZwClose(key);
    }
  }
  if (!have_device) CopyName(dev->device_chars, default_device, (USHORT)(sizeof(default_device) / sizeof(WCHAR) - 1));
  if (!have_pipe) {
    /* bri-<DeviceName>, cut to the longest name allowed */
    USHORT n = NameLength(dev->device_chars);
    if (n > RELAY_NAME_MAX - 4) n = RELAY_NAME_MAX - 4;
    dev->pipe_chars[0] = L'b';
    dev->pipe_chars[1] = L'r';
    dev->pipe_chars[2] = L'i';
    dev->pipe_chars[3] = L'-';
    CopyName(dev->pipe_chars + 4, dev->device_chars, n);
  }
}

static void MakePath(UNICODE_STRING* out, WCHAR* chars, USHORT max_chars, const WCHAR* prefix, const WCHAR* name) {
  out->Buffer = chars;
  out->Length = 0;
  out->MaximumLength = (USHORT)(max_chars * sizeof(WCHAR));
  RtlAppendUnicodeToString(out, prefix);
  RtlAppendUnicodeToString(out, name);
}

/* ---- the pipe ------------------------------------------------------------------------------- */

static void Disconnect(RELAY_OPEN* open) {
  if (open->pipe != NULL) {
    ZwClose(open->pipe);
    open->pipe = NULL;
  }
}

/* Connects to the pipe, waiting a little while all of its instances are taken. */
static NTSTATUS Connect(RELAY_DEVICE* dev, RELAY_OPEN* open) {
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK iosb;
  int tries = CONNECT_TIMEOUT_MS / 10;
  NTSTATUS status;
  InitializeObjectAttributes(&attributes, &dev->pipe, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
  for (;;) {
    /* No synchronous-I/O option: reads and writes are waited for with a time limit. */
    status = ZwCreateFile(&open->pipe, GENERIC_READ | GENERIC_WRITE, &attributes, &iosb, NULL, FILE_ATTRIBUTE_NORMAL,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, FILE_NON_DIRECTORY_FILE, NULL, 0);
    if (NT_SUCCESS(status)) return status;
    open->pipe = NULL;
    if (status != STATUS_PIPE_BUSY && status != STATUS_PIPE_NOT_AVAILABLE) return status;
    if (--tries <= 0) return status;
    {
      LARGE_INTEGER pause;
      pause.QuadPart = -10 * 10000; /* 10 ms */
      KeDelayExecutionThread(KernelMode, FALSE, &pause);
    }
  }
}

/* Moves up to length bytes; STATUS_IO_TIMEOUT when nothing moves within the time limit (the
   operation is then cancelled and waited for, so the buffer is no longer in use on return).
   Reading and writing reset the event themselves when they start. */
static NTSTATUS Transfer(RELAY_OPEN* open, BOOLEAN write, PVOID data, ULONG length, ULONG* moved) {
  IO_STATUS_BLOCK iosb;
  NTSTATUS status;
  *moved = 0;
  iosb.Status = STATUS_PENDING;
  iosb.Information = 0;
  if (write) {
    status = ZwWriteFile(open->pipe, open->event, NULL, NULL, &iosb, data, length, NULL, NULL);
  } else {
    status = ZwReadFile(open->pipe, open->event, NULL, NULL, &iosb, data, length, NULL, NULL);
  }
  if (status == STATUS_PENDING) {
    LARGE_INTEGER timeout;
    timeout.QuadPart = -(LONGLONG)REPLY_TIMEOUT_MS * 10000;
    status = ZwWaitForSingleObject(open->event, FALSE, &timeout);
    if (status == STATUS_TIMEOUT) {
      IO_STATUS_BLOCK cancel;
      ZwCancelIoFile(open->pipe, &cancel);
      ZwWaitForSingleObject(open->event, FALSE, NULL);
      return STATUS_IO_TIMEOUT;
    }
    status = iosb.Status;
  }
  if (!NT_SUCCESS(status)) return status;
  *moved = (ULONG)iosb.Information;
  return *moved == 0 && length > 0 ? STATUS_PIPE_BROKEN : STATUS_SUCCESS;
}

static NTSTATUS TransferAll(RELAY_OPEN* open, BOOLEAN write, UCHAR* data, ULONG length, ULONG* total) {
  *total = 0;
  while (*total < length) {
    ULONG moved = 0;
    NTSTATUS status = Transfer(open, write, data + *total, length - *total, &moved);
    if (!NT_SUCCESS(status)) return status;
    *total += moved;
  }
  return STATUS_SUCCESS;
}

static void PutLE32(UCHAR* p, ULONG v) {
  p[0] = (UCHAR)v;
  p[1] = (UCHAR)(v >> 8);
  p[2] = (UCHAR)(v >> 16);
  p[3] = (UCHAR)(v >> 24);
}

static ULONG GetLE32(const UCHAR* p) {
  return (ULONG)p[0] | ((ULONG)p[1] << 8) | ((ULONG)p[2] << 16) | ((ULONG)p[3] << 24);
}

static BOOLEAN ConnectionWasClosed(NTSTATUS status) {
  return status == STATUS_PIPE_BROKEN || status == STATUS_PIPE_CLOSING || status == STATUS_PIPE_DISCONNECTED ||
         status == STATUS_PIPE_EMPTY;
}

/* One request and its reply. On success *returned bytes of block are the reply. */
static NTSTATUS Exchange(RELAY_DEVICE* dev, RELAY_OPEN* open, UCHAR* block, ULONG* returned) {
  UCHAR* header = open->request;
  UCHAR reply[12];
  ULONG in_sent = RELAY_BLOCK_SIZE;
  ULONG moved = 0, ok, reply_returned, out_sent;
  NTSTATUS status;
  BOOLEAN fresh = FALSE;

  *returned = 0;
  while (in_sent > 0 && block[in_sent - 1] == 0) --in_sent;
  PutLE32(header, RELAY_CODE);
  PutLE32(header + 4, RELAY_BLOCK_SIZE);
  PutLE32(header + 8, in_sent);
  PutLE32(header + 12, RELAY_BLOCK_SIZE);

  if (open->pipe == NULL) {
    status = Connect(dev, open);
    if (!NT_SUCCESS(status)) return status;
    fresh = TRUE;
  }
  RtlCopyMemory(header + REQUEST_HEADER_SIZE, block, in_sent);
  status = TransferAll(open, TRUE, header, REQUEST_HEADER_SIZE + in_sent, &moved);
  if (!NT_SUCCESS(status) && moved == 0 && !fresh && ConnectionWasClosed(status)) {
    /* The server closed this connection before the request: nothing of it went out. */
    Disconnect(open);
    status = Connect(dev, open);
    if (!NT_SUCCESS(status)) return status;
    status = TransferAll(open, TRUE, header, REQUEST_HEADER_SIZE + in_sent, &moved);
  }
  if (NT_SUCCESS(status)) status = TransferAll(open, FALSE, reply, sizeof(reply), &moved);
  if (!NT_SUCCESS(status)) goto broken;

  ok = GetLE32(reply);
  reply_returned = GetLE32(reply + 4);
  out_sent = GetLE32(reply + 8);
  if (out_sent > reply_returned || reply_returned > RELAY_BLOCK_SIZE) {
    status = STATUS_INVALID_NETWORK_RESPONSE; /* the rest of the stream cannot be trusted */
    goto broken;
  }
  /* The caller's buffer is only written back on success, so reading into the block is safe. */
  status = TransferAll(open, FALSE, block, out_sent, &moved);
  if (!NT_SUCCESS(status)) goto broken;
  if (ok != 1) return STATUS_UNSUCCESSFUL;
  RtlZeroMemory(block + out_sent, reply_returned - out_sent);
  *returned = reply_returned;
  return STATUS_SUCCESS;

broken:
  Disconnect(open);
  return status;
}

/* ---- dispatch ------------------------------------------------------------------------------- */

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static void FreeOpen(RELAY_OPEN* open) {
  Disconnect(open);
  if (open->event != NULL) ZwClose(open->event);
  if (open->request != NULL) ExFreePoolWithTag(open->request, RELAY_TAG);
  ExFreePoolWithTag(open, RELAY_TAG);
}

static NTSTATUS DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  RELAY_DEVICE* dev = (RELAY_DEVICE*)device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  RELAY_OPEN* open;
  OBJECT_ATTRIBUTES attributes;
  NTSTATUS status;

  if (stack->FileObject == NULL) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  open = (RELAY_OPEN*)ExAllocatePoolWithTag(NonPagedPool, sizeof(*open), RELAY_TAG);
  if (open == NULL) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  RtlZeroMemory(open, sizeof(*open));
  KeInitializeMutex(&open->lock, 0);
  open->request = (UCHAR*)ExAllocatePoolWithTag(NonPagedPool, REQUEST_HEADER_SIZE + RELAY_BLOCK_SIZE, RELAY_TAG);
  if (open->request == NULL) {
    FreeOpen(open);
    return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  }
  InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
  status = ZwCreateEvent(&open->event, EVENT_ALL_ACCESS, &attributes, NotificationEvent, FALSE);
  if (!NT_SUCCESS(status)) {
    open->event = NULL;
    FreeOpen(open);
    return Complete(irp, status, 0);
  }
  /* The connection is made now, so that brisim numbers its connections in the order the handles
     were opened; without a simulator behind the pipe the handle still opens, and every request
     on it tries to connect again (and fails while none serves the pipe). */
  Connect(dev, open);
  stack->FileObject->FsContext = open;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  (void)device;
  if (stack->FileObject != NULL && stack->FileObject->FsContext != NULL) {
    FreeOpen((RELAY_OPEN*)stack->FileObject->FsContext);
    stack->FileObject->FsContext = NULL;
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  return Complete(irp, STATUS_SUCCESS, 0);
}

/* One request relayed and completed. */
static NTSTATUS Relay(RELAY_DEVICE* dev, RELAY_OPEN* open, PIRP irp) {
  ULONG returned = 0;
  NTSTATUS status;
  KeWaitForSingleObject(&open->lock, Executive, KernelMode, FALSE, NULL);
  status = Exchange(dev, open, (UCHAR*)irp->AssociatedIrp.SystemBuffer, &returned);
  KeReleaseMutex(&open->lock, FALSE);
  return Complete(irp, status, NT_SUCCESS(status) ? returned : 0);
}

/* ---- pended requests ------------------------------------------------------------------------ */

/* A pended request and the work item that relays it. irp is NULL once the cancel routine has
   taken the request; orphan is TRUE when the work item has gone while the cancel routine was
   still to take it (the cancel routine then frees this). Both under the device's pending lock. */
typedef struct {
  PIO_WORKITEM item;
  PIRP irp;
  BOOLEAN orphan;
} RELAY_PENDING;

static void CancelPended(PDEVICE_OBJECT device, PIRP irp) {
  RELAY_DEVICE* dev = (RELAY_DEVICE*)device->DeviceExtension;
  RELAY_PENDING* pending = (RELAY_PENDING*)irp->Tail.Overlay.DriverContext[0];
  KIRQL irql;
  BOOLEAN orphan;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeAcquireSpinLock(&dev->pending, &irql);
  pending->irp = NULL;
  orphan = pending->orphan;
  KeReleaseSpinLock(&dev->pending, irql);
  if (orphan) ExFreePoolWithTag(pending, RELAY_TAG);
  Complete(irp, STATUS_CANCELLED, 0);
}

/* The work item: waits the pending time, then relays the request unless it was cancelled. */
static void RelayPended(PDEVICE_OBJECT device, PVOID context) {
  RELAY_DEVICE* dev = (RELAY_DEVICE*)device->DeviceExtension;
  RELAY_PENDING* pending = (RELAY_PENDING*)context;
  PIO_WORKITEM item = pending->item;
  LARGE_INTEGER pause;
  KIRQL irql;
  PIRP irp;
  BOOLEAN free_pending = TRUE;

  pause.QuadPart = -(LONGLONG)dev->pend_ms * 10000;
  KeDelayExecutionThread(KernelMode, FALSE, &pause);
  KeAcquireSpinLock(&dev->pending, &irql);
  irp = pending->irp;
  if (irp != NULL && IoSetCancelRoutine(irp, NULL) == NULL) {
    /* The cancel routine has the request and is yet to see this record. */
    irp = NULL;
    pending->orphan = TRUE;
    free_pending = FALSE;
  }
  KeReleaseSpinLock(&dev->pending, irql);
  if (free_pending) ExFreePoolWithTag(pending, RELAY_TAG);
  if (irp != NULL) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    Relay(dev, (RELAY_OPEN*)stack->FileObject->FsContext, irp);
  }
  IoFreeWorkItem(item);
}

static NTSTATUS Pend(PDEVICE_OBJECT device, PIRP irp) {
  RELAY_DEVICE* dev = (RELAY_DEVICE*)device->DeviceExtension;
  RELAY_PENDING* pending = (RELAY_PENDING*)ExAllocatePoolWithTag(NonPagedPool, sizeof(RELAY_PENDING), RELAY_TAG);
  KIRQL irql;
  if (pending == NULL) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  pending->item = IoAllocateWorkItem(device);
  if (pending->item == NULL) {
    ExFreePoolWithTag(pending, RELAY_TAG);
    return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  }
  pending->irp = irp;
  pending->orphan = FALSE;
  irp->Tail.Overlay.DriverContext[0] = pending;
  IoMarkIrpPending(irp);
  KeAcquireSpinLock(&dev->pending, &irql);
  IoSetCancelRoutine(irp, CancelPended);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
    /* Cancelled before the cancel routine was in place: nobody else has it. */
    pending->irp = NULL;
    KeReleaseSpinLock(&dev->pending, irql);
    IoFreeWorkItem(pending->item);
    ExFreePoolWithTag(pending, RELAY_TAG);
    Complete(irp, STATUS_CANCELLED, 0);
    return STATUS_PENDING;
  }
  KeReleaseSpinLock(&dev->pending, irql);
  IoQueueWorkItem(pending->item, RelayPended, DelayedWorkQueue, pending);
  return STATUS_PENDING;
}

static NTSTATUS DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  RELAY_DEVICE* dev = (RELAY_DEVICE*)device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  RELAY_OPEN* open = stack->FileObject != NULL ? (RELAY_OPEN*)stack->FileObject->FsContext : NULL;

  if (open == NULL) return Complete(irp, STATUS_INVALID_HANDLE, 0);
  if (stack->Parameters.DeviceIoControl.IoControlCode != RELAY_CODE) {
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  if (stack->Parameters.DeviceIoControl.InputBufferLength != RELAY_BLOCK_SIZE ||
      stack->Parameters.DeviceIoControl.OutputBufferLength != RELAY_BLOCK_SIZE ||
      irp->AssociatedIrp.SystemBuffer == NULL) {
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  if (dev->pend_ms != 0) return Pend(device, irp);
  return Relay(dev, open, irp);
}

static void Unload(PDRIVER_OBJECT driver) {
  PDEVICE_OBJECT device = driver->DeviceObject;
  while (device != NULL) {
    PDEVICE_OBJECT next = device->NextDevice;
    RELAY_DEVICE* dev = (RELAY_DEVICE*)device->DeviceExtension;
    if (dev->link_made) IoDeleteSymbolicLink(&dev->link);
    IoDeleteDevice(device);
    device = next;
  }
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  RELAY_DEVICE params;
  WCHAR device_path_chars[RELAY_NAME_MAX + 16];
  UNICODE_STRING device_path;
  PDEVICE_OBJECT device = NULL;
  RELAY_DEVICE* dev;
  NTSTATUS status;

  RtlZeroMemory(&params, sizeof(params));
  ReadParameters(registry_path, &params);
  MakePath(&device_path, device_path_chars, RELAY_NAME_MAX + 16, L"\\Device\\", params.device_chars);

  status = IoCreateDevice(driver, sizeof(RELAY_DEVICE), &device_path, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  dev = (RELAY_DEVICE*)device->DeviceExtension;
  *dev = params;
  KeInitializeSpinLock(&dev->pending);
  MakePath(&dev->link, dev->link_path, RELAY_NAME_MAX + 16, L"\\DosDevices\\", dev->device_chars);
  MakePath(&dev->pipe, dev->pipe_path, RELAY_NAME_MAX + 16, L"\\??\\pipe\\", dev->pipe_chars);
  status = IoCreateSymbolicLink(&dev->link, &device_path);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  dev->link_made = TRUE;

  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->DriverUnload = Unload;
  device->Flags |= DO_BUFFERED_IO;
  device->Flags &= ~(ULONG)DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}
