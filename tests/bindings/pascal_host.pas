{ A Free Pascal host on bindings/pascal: prints the layout of both records
  as compiled, the driver's name, the effect of two system-status lines,
  then every item a port delivers as "item|number|channel|ident|code|text|
  stamp|queued" until COUNT items or SECONDS have passed, and the port's line
  state: as the open port gives it, for a record too small, and once closed.

    pascal_host PORT COUNT SECONDS }
program pascal_host;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}

uses
  SysUtils, zentrok;

var
  Msg: TQenMsg;
  State: TQenLineState;

function Offset(const Field): NativeUInt;
begin
  Result := NativeUInt(@Field) - NativeUInt(@Msg);
end;

function StateOffset(const Field): NativeUInt;
begin
  Result := NativeUInt(@Field) - NativeUInt(@State);
end;

procedure PrintLayout;
begin
  WriteLn(Format('layout: size %d, Number %d, Channel %d, Ident %d, Code %d (capacity %d), ' +
    'Text %d (capacity %d), Stamp %d (size %d), Note %d (size %d)',
    [SizeOf(TQenMsg), Offset(Msg.Number), Offset(Msg.Channel), Offset(Msg.Ident), Offset(Msg.Code),
     High(Msg.Code), Offset(Msg.Text), High(Msg.Text), Offset(Msg.Stamp), SizeOf(Msg.Stamp),
     Offset(Msg.Note), SizeOf(Msg.Note)]));
  WriteLn(Format('line state layout: size %d, DevicePresent %d, BaudRate %d, ByteSize %d, SettingsKnown %d, ' +
    'Flags %d, Telegrams %d, LogLinesNotWritten %d',
    [SizeOf(TQenLineState), StateOffset(State.DevicePresent), StateOffset(State.BaudRate),
     StateOffset(State.ByteSize), StateOffset(State.SettingsKnown), StateOffset(State.Flags),
     StateOffset(State.Telegrams), StateOffset(State.LogLinesNotWritten)]));
end;

{ What the open port said of its line (taken while its device waited for an
  ACK, so it was there for certain); then that a record too small and a
  closed port give 0 and leave the record as it was. }
procedure PrintLineState(Port: TQenHandle; Closed: Boolean; Taken: Int32);
var
  Before: TQenLineState;
  Answer: Int32;
begin
  if not Closed then
  begin
    WriteLn(Format('line state %d: size %d, device present %d, away %d ms, telegrams %d, %d baud, %d data bits, ' +
      'settings known %d', [Taken, State.Size, State.DevicePresent, State.AwayMs, State.Telegrams,
      State.BaudRate, State.ByteSize, State.SettingsKnown]));
    State.Size := SizeOf(State) - 1;
  end
  else
    State.Size := SizeOf(State);
  State.Telegrams := $A5A5A5A5;
  Before := State;
  Answer := qen_GetLineState(Port, State);
  if Closed then
    Write('line state after the close: ')
  else
    Write('line state of a record too small: ');
  if CompareMem(@Before, @State, SizeOf(State)) then
    WriteLn(Answer, ', untouched')
  else
    WriteLn(Answer, ', written');
end;

procedure PrintNameAndSystemLines;
var
  Info1, Info2, Info3, Mask, Value: Int32;
  Table: TQenStateTable;
  Line: ShortString;
begin
  WriteLn(Format('driver %s (%d, %d, %d)', [Qen_GetName(Info1, Info2, Info3), Info1, Info2, Info3]));
  Mask := 0;
  FillChar(Table, SizeOf(Table), 0);
  Line := '   A 03';
  qen_GetSysMsg(@Line, Mask, Table, Value);
  Line := '   R E5';
  qen_GetSysMsg(@Line, Mask, Table, Value);
  WriteLn(Format('system lines: mask %d, entry 5 %.2X, value %d', [Mask, Table[4], Value]));
end;

function StampText: string;
begin
  if QenIsQueuedEntry(Msg) or (Msg.Stamp.wYear = QenNoStamp) then
    Exit('-');
  with Msg.Stamp do
    Result := Format('%.4d-%.2d-%.2d %.2d:%.2d:%.2d', [wYear, wMonth, wDay, wHour, wMinute, wSecond]);
end;

function NumberText: string;
begin
  if QenIsQueuedEntry(Msg) then
    Exit('-');
  Result := IntToStr(Msg.Number);
end;

const
  Queued: array[Boolean] of string = ('no', 'yes');
var
  Port: TQenHandle;
  Count, Received, Taken: Integer;
  Deadline: QWord;
begin
  PrintLayout;
  PrintNameAndSystemLines;
  Port := qen_InitComm(StrToInt(ParamStr(1)), 1);
  if Port = nil then
  begin
    WriteLn(ErrOutput, 'port ', ParamStr(1), ' did not open');
    Halt(1);
  end;
  Count := StrToInt(ParamStr(2));
  Deadline := GetTickCount64 + 1000 * StrToInt(ParamStr(3));
  Received := 0;
  Taken := -1;
  { This thread opened the port, so it keeps polling: each hand-off of a
    message runs inside its qen_GetMsg. }
  while (Received < Count) and (GetTickCount64 < Deadline) do
  begin
    QenFillSentinel(Msg);
    if qen_GetMsg(Port, Msg) = 0 then
    begin
      Sleep(1);
      Continue;
    end;
    Inc(Received);
    { At the first queued entry its telegram is still being handed over: the
      device waits for the ACK, so it is there. }
    if QenIsQueuedEntry(Msg) and (Taken < 0) then
      Taken := Ord(QenGetLineState(Port, State));
    WriteLn(Format('%d|%s|%d|%.8X|%s|%s|%s|%s', [Received, NumberText, Msg.Channel, UInt32(Msg.Ident),
      QenCodeOf(Msg), QenTextOf(Msg), StampText, Queued[QenIsQueuedEntry(Msg)]]));
    Flush(Output);
  end;
  PrintLineState(Port, False, Taken);
  qen_CloseComm(Port);
  PrintLineState(Port, True, Taken);
  WriteLn(Received, ' items');
end.
