{ The ZENTROK serial device driver for Delphi and Free Pascal hosts: the
  44-byte record and the five calls, and the line state of an open port
  (qen_GetLineState and its 56-byte record), bound by name to zentrok.dll
  (32-bit Windows, stdcall) or libzentrok.so (Linux, the C convention). The system
  loader finds the library: on Windows beside the program or on PATH, on
  Linux through LD_LIBRARY_PATH, the run path or the loader cache.

  Threading: while any port is open some thread must keep calling
  qen_GetMsg (any port, any thread): each call first runs the hand-offs that
  are waiting. README.md, "Threading: the host's duty", says more. }
unit zentrok;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}

interface

const
{$IFDEF MSWINDOWS}
  ZentrokLibrary = 'zentrok.dll';
{$ELSE}
  ZentrokLibrary = 'libzentrok.so';
{$ENDIF}
  { Stamp.wYear of a message that carries no time. }
  QenNoStamp = $FFFF;
  QenStateTableSize = 14;
  { TQenLineState.SinceTelegramMs before the port's first telegram. }
  QenNoneYet = $FFFFFFFF;

type
  { The Windows SYSTEMTIME layout. }
  TQenSystemTime = packed record
    wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds: Word;
  end;

  { One message or queued entry. Int32 and UInt32 rather than LongInt and
    LongWord, which are 64 bits wide on some 64-bit Delphi targets. }
  TQenMsg = packed record
    Number: Int32;                    {  0: telegram number }
    Channel: Word;                    {  4: channel 0..15 }
    Reserved6: array[0..1] of Byte;   {  6: never written by the driver }
    Ident: Int32;                     {  8: identifier (32-bit pattern) }
    Code: string[2];                  { 12: length byte + 2 characters }
    Text: string[7];                  { 15: length byte + 7 characters, upper case }
    Reserved23: Byte;                 { 23: never written by the driver }
    Stamp: TQenSystemTime;            { 24: wYear = QenNoStamp: none }
    Note: UInt32;                     { 40: reserved, never written by the driver }
  end;

  { The state of an open port's line, for a host that must tell a dead line
    from a quiet one. Set Size to SizeOf(TQenLineState) before the call
    (QenGetLineState does); later versions only add fields at the end.
    Counters run from qen_InitComm. }
  TQenLineState = packed record
    Size: UInt32;               {  0: in: SizeOf(TQenLineState); out: bytes filled }
    DevicePresent: UInt32;      {  4: 1 the device is there; 0 the port waits for it to come back }
    AwayMs: UInt32;             {  8: milliseconds since the device went; 0 while it is there }
    SinceTelegramMs: UInt32;    { 12: milliseconds since the last telegram; QenNoneYet before the first }
    BaudRate: UInt32;           { 16: the line as the device took it (read back) }
    ByteSize: Byte;             { 20: data bits }
    Parity: Byte;               { 21: 0 none, 1 odd, 2 even, 3 mark, 4 space }
    StopBits: Byte;             { 22: 0 one, 1 one and a half, 2 two }
    SettingsKnown: Byte;        { 23: 1 when the device reported its settings; else 16..28 are 0 }
    Flags: UInt32;              { 24: flow control and modem lines, the Windows DCB flag word }
    Telegrams: UInt32;          { 28: telegrams received }
    AcksSent: UInt32;           { 32: ACK bytes written to the line }
    Withdrawn: UInt32;          { 36: messages withdrawn because the host did not take them in time }
    DiscardedTelegrams: UInt32; { 40: telegrams discarded for line errors, not acknowledged }
    LineErrors: UInt32;         { 44: line error reports (overrun, framing, break, overflow) }
    Reopens: UInt32;            { 48: times the device came back and the port was opened again }
    LogLinesNotWritten: UInt32; { 52: telegrams the log could not take }
  end;

  { An open port; nil when the port did not open. }
  TQenHandle = Pointer;
  TQenStateTable = array[0..QenStateTableSize - 1] of Byte;

{ 'ZENTROK', static (never free it); stores 65533, 2 and 3. }
function Qen_GetName(out Info1, Info2, Info3: Int32): PAnsiChar;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external ZentrokLibrary;
{ Opens COM<PortNumber> with section RecNr<RecNumber> of Rn.ini; nil when it does not open. }
function qen_InitComm(PortNumber, RecNumber: Int32): TQenHandle;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external ZentrokLibrary;
{ Closes the port; a handle that is not an open port is ignored. Returns 0. }
function qen_CloseComm(Handle: TQenHandle): Int32;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external ZentrokLibrary;
{ 1: the next item was copied into Dest; 0: none, Dest untouched. }
function qen_GetMsg(Handle: TQenHandle; var Dest: TQenMsg): Int32;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external ZentrokLibrary;
{ Applies one system-status line (a short string: length byte first) to the
  status mask and table; sets SysValue to 2. Call it as
  qen_GetSysMsg(@Line, Mask, Table, Value). }
function qen_GetSysMsg(SysLine: PShortString; var StateMask: Int32; var StateTable: TQenStateTable;
  out SysValue: Int32): Int32;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external ZentrokLibrary;
{ 1: State holds the line state of the open port Handle; 0, State untouched,
  when Handle is no open port or State.Size is less than SizeOf(TQenLineState).
  Never waits for the port's reader. }
function qen_GetLineState(Handle: TQenHandle; var State: TQenLineState): Int32;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external ZentrokLibrary;

{ qen_GetLineState with Size set: False when Handle is no open port. }
function QenGetLineState(Handle: TQenHandle; out State: TQenLineState): Boolean;

{ A queued entry writes neither Number nor Stamp. Fill the record with
  QenFillSentinel before each qen_GetMsg; after a delivery QenIsQueuedEntry
  tells an entry (Number and Stamp still hold the pattern) from a message. }
procedure QenFillSentinel(var Msg: TQenMsg);
function QenIsQueuedEntry(const Msg: TQenMsg): Boolean;

{ The code and text of a delivered item, never longer than their capacity. }
function QenCodeOf(const Msg: TQenMsg): ShortString;
function QenTextOf(const Msg: TQenMsg): ShortString;

implementation

const
  SentinelByte = $A5;

type
  TStampBytes = array[0..SizeOf(TQenSystemTime) - 1] of Byte;

procedure QenFillSentinel(var Msg: TQenMsg);
begin
  FillChar(Msg, SizeOf(Msg), SentinelByte);
end;

function QenIsQueuedEntry(const Msg: TQenMsg): Boolean;
var
  I: Integer;
begin
  { A message's Number is -9..99, never the pattern. }
  Result := UInt32(Msg.Number) = $A5A5A5A5;
  for I := Low(TStampBytes) to High(TStampBytes) do
    Result := Result and (TStampBytes(Msg.Stamp)[I] = SentinelByte);
end;

function QenGetLineState(Handle: TQenHandle; out State: TQenLineState): Boolean;
begin
  FillChar(State, SizeOf(State), 0);
  State.Size := SizeOf(State);
  Result := qen_GetLineState(Handle, State) = 1;
end;

function Clamped(First: PAnsiChar; Length, Capacity: Integer): ShortString;
begin
  if Length > Capacity then
    Length := Capacity;
  SetLength(Result, Length);
  if Length > 0 then
    Move(First^, Result[1], Length);
end;

function QenCodeOf(const Msg: TQenMsg): ShortString;
begin
  Result := Clamped(@Msg.Code[1], Ord(Msg.Code[0]), High(Msg.Code));
end;

function QenTextOf(const Msg: TQenMsg): ShortString;
begin
  Result := Clamped(@Msg.Text[1], Ord(Msg.Text[0]), High(Msg.Text));
end;

end.
