@echo off
rem Allows controllers to reach the Korvan panel beside this script: inbound TCP 6165.
rem The installer runs it when its firewall option is chosen; run it as administrator to
rem add the rule again by hand. The uninstaller removes the rule.
netsh advfirewall firewall delete rule name="Korvan (TCP 6165)" >nul 2>&1
netsh advfirewall firewall add rule name="Korvan (TCP 6165)" dir=in action=allow ^
    protocol=TCP localport=6165 program="%~dp0korvan.exe" enable=yes profile=any
