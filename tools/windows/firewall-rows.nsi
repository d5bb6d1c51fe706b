; Runs the installer's address check and firewall rule on each line of an input file and
; writes, per line, three lines to the output file: the rejected entry (or "ok"), the
; Allow= value and netsh's arguments. tools/windows/check-firewall-rule.sh drives it.
;
;   makensis -DFIREWALL_NSH=packaging/windows/firewall.nsh -DOUT=rows.exe firewall-rows.nsi
;   rows.exe /IN=rows.txt /RESULT=results.txt
Unicode true
Target amd64-unicode
SilentInstall silent
RequestExecutionLevel user
OutFile "${OUT}"
Name "firewall-rows"

!include FileFunc.nsh
!include "${FIREWALL_NSH}"

Section
    ${GetParameters} $0
    ${GetOptions} $0 "/IN=" $1
    ${GetOptions} $0 "/RESULT=" $2
    FileOpen $3 $1 r
    FileOpen $4 $2 w
    ${Do}
        ClearErrors
        FileRead $3 $5
        ${If} ${Errors}
            ${Break}
        ${EndIf}
        ; The line without its end.
        ${Do}
            StrCpy $6 $5 1 -1
            ${If} $6 != "$\n"
            ${AndIf} $6 != "$\r"
                ${Break}
            ${EndIf}
            StrCpy $5 $5 -1
        ${Loop}
        Push $5
        Call KorvanParseAddresses
        Pop $6 ; error
        Pop $7 ; Allow=
        Pop $8 ; remoteip
        ${If} $6 == ""
            StrCpy $6 "ok"
        ${EndIf}
        Push "C:\Program Files\Korvan\bin\korvan.exe"
        Push $8
        Call KorvanFirewallRule
        Pop $9
        FileWrite $4 "$6$\n$7$\n$9$\n"
    ${Loop}
    FileClose $4
    FileClose $3
SectionEnd
