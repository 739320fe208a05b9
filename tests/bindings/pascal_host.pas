{ A Free Pascal host on bindings/pascal: prints the record's layout as
  compiled, the driver's name, the effect of two system-status lines, and
  then every item a port delivers as "item|number|channel|ident|code|text|
  stamp|queued" until COUNT items or SECONDS have passed.

    pascal_host PORT COUNT SECONDS }
program pascal_host;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}

uses
  SysUtils, zentrok;

var
  Msg: TQenMsg;

function Offset(const Field): NativeUInt;
begin
  Result := NativeUInt(@Field) - NativeUInt(@Msg);
end;

procedure PrintLayout;
begin
  WriteLn(Format('layout: size %d, Number %d, Channel %d, Ident %d, Code %d (capacity %d), ' +
    'Text %d (capacity %d), Stamp %d (size %d), Note %d (size %d)',
    [SizeOf(TQenMsg), Offset(Msg.Number), Offset(Msg.Channel), Offset(Msg.Ident), Offset(Msg.Code),
     High(Msg.Code), Offset(Msg.Text), High(Msg.Text), Offset(Msg.Stamp), SizeOf(Msg.Stamp),
     Offset(Msg.Note), SizeOf(Msg.Note)]));
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
  Count, Received: Integer;
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
    WriteLn(Format('%d|%s|%d|%.8X|%s|%s|%s|%s', [Received, NumberText, Msg.Channel, UInt32(Msg.Ident),
      QenCodeOf(Msg), QenTextOf(Msg), StampText, Queued[QenIsQueuedEntry(Msg)]]));
    Flush(Output);
  end;
  qen_CloseComm(Port);
  WriteLn(Received, ' items');
end.
