/* Blinky: toggles the board LED and echoes characters on the serial port. */
#include "led.h"
#include "../Drivers/Uart/uart.h"

static volatile unsigned ticks;

void SysTick_Handler(void) { ticks++; }

static void delay(unsigned count) {
  unsigned start = ticks;
  while (ticks - start < count) {
  }
}

int main(void) {
  led_init();
  uart_init(115200);
  for (;;) {
    led_toggle();
    delay(500);
    int c = uart_poll();
    if (c >= 0) uart_put((char)c);
  }
}
