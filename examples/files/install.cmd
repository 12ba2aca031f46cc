@echo off
rem The setup program of the demo: the stub starts it from its working folder
rem with the stub's own arguments, /demo and /TH_ID=<token>.
echo Korvan demo setup started with: %*
type "%~dp0readme.txt"
