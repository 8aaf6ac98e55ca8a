Objects/main.o: Source/main.c Source/led.h
