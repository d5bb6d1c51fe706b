; The controller's addresses and the firewall rule, in one place: the installer and the test
; installer in tools/windows/firewall-rows.nsi both include this file.
;
;   Push TEXT
;   Call KorvanParseAddresses
;   Pop $ERROR   ; "" when every entry is valid, else the first entry that is not
;   Pop $ALLOW   ; "a, b": the panel's [Network] Allow= value ("" when TEXT is empty)
;   Pop $REMOTE  ; "a,b": netsh's remoteip list ("" when TEXT is empty)
;
;   Push COMMAND_LINE_PARAMETERS
;   Call KorvanControllerOption
;   Pop $TEXT    ; the value of /CONTROLLER=, quoted as a whole or in its value, or ""
;
;   Push PROGRAM
;   Push REMOTE
;   Call KorvanFirewallRule
;   Pop $ARGS    ; netsh's arguments that add the rule
;
; Entries are IPv4 or IPv6 addresses, each optionally with /prefix, separated by commas,
; semicolons or blanks. The check is stricter than the panel's own parser (four decimal
; parts without leading zeros, no zone), so whatever passes here both the panel and netsh
; take as written.

!ifndef KORVAN_FIREWALL_NSH
!define KORVAN_FIREWALL_NSH
!include LogicLib.nsh

!define KORVAN_RULE_NAME "Korvan (TCP 6165)"

; $0 a one-character string, $1 the set: $2 = 1 when $0 is in the set. NSIS compares
; without case, which suits hexadecimal digits.
Function KorvanCharIn
    Push $3
    Push $4
    StrCpy $2 0
    StrCpy $3 0
    ${Do}
        StrCpy $4 $1 1 $3
        ${If} $4 == ""
            ${Break}
        ${EndIf}
        ${If} $4 == $0
            StrCpy $2 1
            ${Break}
        ${EndIf}
        IntOp $3 $3 + 1
    ${Loop}
    Pop $4
    Pop $3
FunctionEnd

; Decimal number without sign or leading zero, at most $R8 digits and at most $R9.
; In: $R7. Out: $R6 = 1 when valid.
Function KorvanIsNumber
    Push $0
    Push $1
    Push $2
    Push $3
    StrCpy $R6 0
    StrLen $3 $R7
    ${If} $3 > 0
    ${AndIf} $3 <= $R8
        StrCpy $R6 1
        StrCpy $1 "0123456789"
        StrCpy $3 0
        ${Do}
            StrCpy $0 $R7 1 $3
            ${If} $0 == ""
                ${Break}
            ${EndIf}
            Call KorvanCharIn
            ${If} $2 == 0
                StrCpy $R6 0
                ${Break}
            ${EndIf}
            IntOp $3 $3 + 1
        ${Loop}
        StrCpy $0 $R7 1
        ${If} $R6 == 1
        ${AndIf} $0 == "0"
        ${AndIf} $R7 != "0"
            StrCpy $R6 0
        ${EndIf}
        ${If} $R6 == 1
        ${AndIf} $R7 > $R9
            StrCpy $R6 0
        ${EndIf}
    ${EndIf}
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; In: $R7 a dotted IPv4 address. Out: $R6 = 1 when valid.
Function KorvanIsIPv4
    Push $R5
    Push $R4
    Push $R3
    Push $R8
    Push $R9
    Push $R7
    StrCpy $R5 $R7 ; what is left
    StrCpy $R4 0   ; parts seen
    StrCpy $R6 1
    ${Do}
        ; One part: up to the next dot or the end.
        StrCpy $R3 0
        ${Do}
            StrCpy $R7 $R5 1 $R3
            ${If} $R7 == "."
            ${OrIf} $R7 == ""
                ${Break}
            ${EndIf}
            IntOp $R3 $R3 + 1
        ${Loop}
        StrCpy $R7 $R5 $R3
        StrCpy $R8 3
        StrCpy $R9 255
        Call KorvanIsNumber
        ${If} $R6 == 0
            ${Break}
        ${EndIf}
        IntOp $R4 $R4 + 1
        StrCpy $R7 $R5 1 $R3
        IntOp $R3 $R3 + 1
        StrCpy $R5 $R5 "" $R3
        ${If} $R7 == ""
            ${Break}
        ${EndIf}
    ${Loop}
    ${If} $R4 != 4
        StrCpy $R6 0
    ${EndIf}
    Pop $R7
    Pop $R9
    Pop $R8
    Pop $R3
    Pop $R4
    Pop $R5
FunctionEnd

; In: $R7 colon-separated hexadecimal groups of 1-4 digits ("" is no group).
; Out: $R6 = the number of groups, -1 when malformed.
Function KorvanCountGroups
    Push $0
    Push $1
    Push $2
    Push $3
    Push $4
    StrCpy $R6 0
    StrCpy $1 "0123456789abcdef"
    StrCpy $3 0 ; position
    StrCpy $4 0 ; digits in the current group
    ${If} $R7 != ""
        ${Do}
            StrCpy $0 $R7 1 $3
            ${If} $0 == ""
            ${OrIf} $0 == ":"
                ${If} $4 == 0
                    StrCpy $R6 -1
                    ${Break}
                ${EndIf}
                IntOp $R6 $R6 + 1
                StrCpy $4 0
                ${If} $0 == ""
                    ${Break}
                ${EndIf}
            ${Else}
                Call KorvanCharIn
                IntOp $4 $4 + 1
                ${If} $2 == 0
                ${OrIf} $4 > 4
                    StrCpy $R6 -1
                    ${Break}
                ${EndIf}
            ${EndIf}
            IntOp $3 $3 + 1
        ${Loop}
    ${EndIf}
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; In: $R7 an IPv6 address, "::" compression and a dotted IPv4 tail allowed.
; Out: $R6 = 1 when valid.
Function KorvanIsIPv6
    Push $R0
    Push $R1
    Push $R2
    Push $R3
    Push $R7
    StrCpy $R0 $R7
    StrCpy $R6 1
    StrCpy $R2 0 ; groups the IPv4 tail stands for
    ; A dotted tail after the last colon counts as two groups.
    StrLen $R3 $R0
    ${Do}
        IntOp $R3 $R3 - 1
        ${If} $R3 < 0
            ${Break}
        ${EndIf}
        StrCpy $R1 $R0 1 $R3
        ${If} $R1 == ":"
            ${Break}
        ${EndIf}
    ${Loop}
    IntOp $R1 $R3 + 1
    StrCpy $R7 $R0 "" $R1
    Push $R7
    Push "."
    Call KorvanContains
    Pop $R1
    ${If} $R1 == 1
        ${If} $R3 < 0
            StrCpy $R6 0
        ${Else}
            Call KorvanIsIPv4
            StrCpy $R2 2
            ; Keep the colon, so "::1.2.3.4" still ends in "::" below.
            IntOp $R3 $R3 + 1
            StrCpy $R0 $R0 $R3
            ; "a:b:1.2.3.4" leaves "a:b:": drop a single trailing colon.
            StrCpy $R1 $R0 2 -2
            ${If} $R1 != "::"
                StrCpy $R0 $R0 -1
            ${EndIf}
        ${EndIf}
    ${EndIf}
    ${If} $R6 == 1
        ; At most one "::"; it splits the address in a left and a right list of groups.
        StrCpy $R3 0
        StrCpy $R1 -1
        ${Do}
            StrCpy $R7 $R0 2 $R3
            ${If} $R7 == ""
                ${Break}
            ${EndIf}
            ${If} $R7 == "::"
                ${If} $R1 != -1
                    StrCpy $R6 0
                    ${Break}
                ${EndIf}
                StrCpy $R1 $R3
            ${EndIf}
            IntOp $R3 $R3 + 1
        ${Loop}
    ${EndIf}
    ${If} $R6 == 1
        ${If} $R1 == -1
            StrCpy $R7 $R0
            Call KorvanCountGroups
            IntOp $R6 $R6 + $R2
            ${If} $R6 == 8
                StrCpy $R6 1
            ${Else}
                StrCpy $R6 0
            ${EndIf}
        ${Else}
            StrCpy $R7 $R0 $R1
            Call KorvanCountGroups
            StrCpy $R3 $R6
            IntOp $R1 $R1 + 2
            StrCpy $R7 $R0 "" $R1
            Call KorvanCountGroups
            ${If} $R3 < 0
            ${OrIf} $R6 < 0
                StrCpy $R6 0
            ${Else}
                IntOp $R6 $R6 + $R3
                IntOp $R6 $R6 + $R2
                ${If} $R6 <= 7
                    StrCpy $R6 1
                ${Else}
                    StrCpy $R6 0
                ${EndIf}
            ${EndIf}
        ${EndIf}
    ${EndIf}
    Pop $R7
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

; Push HAYSTACK, Push NEEDLE (one character); Call; Pop: 1 when found.
Function KorvanContains
    Exch $1
    Exch
    Exch $0
    Push $2
    Push $3
    StrCpy $3 0
    ${Do}
        StrCpy $2 $0 1 $3
        ${If} $2 == ""
            StrCpy $0 0
            ${Break}
        ${EndIf}
        ${If} $2 == $1
            StrCpy $0 1
            ${Break}
        ${EndIf}
        IntOp $3 $3 + 1
    ${Loop}
    Pop $3
    Pop $2
    Exch
    Pop $1
    Exch $0
FunctionEnd

; In: $R7 one entry. Out: $R6 = 1 when it is an address or address/prefix.
Function KorvanIsEntry
    Push $R0
    Push $R1
    Push $R2
    Push $R7
    Push $R8
    Push $R9
    ; Split at the first slash.
    StrCpy $R0 0
    ${Do}
        StrCpy $R1 $R7 1 $R0
        ${If} $R1 == "/"
        ${OrIf} $R1 == ""
            ${Break}
        ${EndIf}
        IntOp $R0 $R0 + 1
    ${Loop}
    StrCpy $R2 $R7 "" $R0 ; "/prefix" or ""
    StrCpy $R7 $R7 $R0
    Push $R7
    Push ":"
    Call KorvanContains
    Pop $R1
    ${If} $R1 == 1
        Call KorvanIsIPv6
        StrCpy $R9 128
    ${Else}
        Call KorvanIsIPv4
        StrCpy $R9 32
    ${EndIf}
    ${If} $R6 == 1
    ${AndIf} $R2 != ""
        StrCpy $R7 $R2 "" 1
        StrCpy $R8 3
        Call KorvanIsNumber
    ${EndIf}
    Pop $R9
    Pop $R8
    Pop $R7
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

Function KorvanParseAddresses
    Exch $R0 ; the text
    Push $R1 ; position
    Push $R2 ; character
    Push $R3 ; current entry
    Push $R4 ; error
    Push $R5 ; Allow= value
    Push $R6
    Push $R7
    Push $9  ; remoteip list
    StrCpy $R1 0
    StrCpy $R3 ""
    StrCpy $R4 ""
    StrCpy $R5 ""
    StrCpy $9 ""
    ${Do}
        StrCpy $R2 $R0 1 $R1
        ${If} $R2 == ""
        ${OrIf} $R2 == ","
        ${OrIf} $R2 == ";"
        ${OrIf} $R2 == " "
        ${OrIf} $R2 == "$\t"
        ${OrIf} $R2 == "$\r"
        ${OrIf} $R2 == "$\n"
            ${If} $R3 != ""
                StrCpy $R7 $R3
                Call KorvanIsEntry
                ${If} $R6 == 0
                    StrCpy $R4 $R3
                    ${Break}
                ${EndIf}
                ${If} $R5 == ""
                    StrCpy $R5 $R3
                    StrCpy $9 $R3
                ${Else}
                    StrCpy $R5 "$R5, $R3"
                    StrCpy $9 "$9,$R3"
                ${EndIf}
                StrCpy $R3 ""
            ${EndIf}
            ${If} $R2 == ""
                ${Break}
            ${EndIf}
        ${Else}
            StrCpy $R3 "$R3$R2"
        ${EndIf}
        IntOp $R1 $R1 + 1
    ${Loop}
    ${If} $R4 != ""
        StrCpy $R5 ""
        StrCpy $9 ""
    ${EndIf}
    ; Results: error on top, then Allow=, then remoteip.
    StrCpy $R0 $9
    StrCpy $R1 $R5
    StrCpy $R2 $R4
    Pop $9
    Pop $R7
    Pop $R6
    Pop $R5
    Pop $R4
    Pop $R3
    Exch $R2   ; stack: error, $R1 saved, $R0 saved...
    Exch
    Exch $R1   ; stack: allow, error...
    Exch 2
    Exch $R0   ; stack: remote, error, allow
    Exch 2     ; stack: allow, error, remote
    Exch       ; stack: error, allow, remote
FunctionEnd

Function KorvanFirewallRule
    Exch $1 ; remoteip list
    Exch
    Exch $0 ; program
    ${If} $1 == ""
        StrCpy $1 "localsubnet"
    ${EndIf}
    StrCpy $0 'advfirewall firewall add rule name="${KORVAN_RULE_NAME}" dir=in action=allow \
protocol=TCP localport=6165 program="$0" enable=yes remoteip=$1 profile=domain,private'
    Pop $1
    Exch $0
FunctionEnd

; NSIS's own GetOptions ends a value at " /", which a network's /prefix contains.
Function KorvanControllerOption
    Exch $0 ; the parameters
    Push $1
    Push $2
    Push $3
    StrCpy $1 0
    StrLen $3 "/CONTROLLER="
    ${Do}
        StrCpy $2 $0 $3 $1
        ${If} $2 == ""
            StrCpy $0 ""
            ${Break}
        ${EndIf}
        ${If} $2 == "/CONTROLLER="
            ; "/CONTROLLER=a b" ends at the quote, /CONTROLLER="a b" too, else a blank.
            StrCpy $3 " "
            IntOp $2 $1 - 1
            ${If} $1 > 0
                StrCpy $2 $0 1 $2
                ${If} $2 == '"'
                    StrCpy $3 '"'
                ${EndIf}
            ${EndIf}
            StrLen $2 "/CONTROLLER="
            IntOp $1 $1 + $2
            StrCpy $0 $0 "" $1
            StrCpy $2 $0 1
            ${If} $2 == '"'
                StrCpy $3 '"'
                StrCpy $0 $0 "" 1
            ${EndIf}
            StrCpy $1 0
            ${Do}
                StrCpy $2 $0 1 $1
                ${If} $2 == ""
                ${OrIf} $2 == $3
                    ${Break}
                ${EndIf}
                IntOp $1 $1 + 1
            ${Loop}
            StrCpy $0 $0 $1
            ${Break}
        ${EndIf}
        IntOp $1 $1 + 1
    ${Loop}
    Pop $3
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

!endif
