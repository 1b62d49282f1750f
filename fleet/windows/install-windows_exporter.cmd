@echo off
rem Installs windows_exporter as a service on this PC with its text-file collector reading the
rem folder MEmuFarm health writes its file into, listening on port 9182 with a firewall
rem exception. Run it as administrator in the folder that holds the exporter's MSI; set
rem VERSION to the version you downloaded (windows_exporter-<version>-amd64.msi).
set VERSION=0.30.6
set TEXTFILE_FOLDER=C:\ProgramData\windows_exporter\textfile_inputs

if not exist "%TEXTFILE_FOLDER%" mkdir "%TEXTFILE_FOLDER%"
msiexec /i windows_exporter-%VERSION%-amd64.msi ENABLED_COLLECTORS=cpu,logical_disk,memory,net,os,system,textfile TEXTFILE_DIRS="%TEXTFILE_FOLDER%" LISTEN_PORT=9182 ADDLOCAL=FirewallException /qn /norestart
set RESULT=%errorlevel%
rem 3010: installed, Windows wants a restart some time.
if "%RESULT%"=="3010" set RESULT=0
if not "%RESULT%"=="0" (
  echo windows_exporter was not installed: msiexec ended with %RESULT%.
  exit /b 1
)
echo windows_exporter installed: http://localhost:9182/metrics shows memu_* once MEmuFarm health writes %TEXTFILE_FOLDER%\memu.prom.
