; Stands in for netsh.exe in the package check's throwaway Wine prefix, where Wine's own
; netsh keeps no rules: appends its arguments to C:\netsh-calls.txt, one call a line.
;
;   makensis -DOUT=netsh.exe netsh-recorder.nsi
Target amd64-unicode
SilentInstall silent
RequestExecutionLevel user
OutFile "${OUT}"
Name "netsh"

!include FileFunc.nsh

Section
    ${GetParameters} $0
    FileOpen $1 "C:\netsh-calls.txt" a
    FileSeek $1 0 END
    FileWrite $1 "$0$\r$\n"
    FileClose $1
SectionEnd
