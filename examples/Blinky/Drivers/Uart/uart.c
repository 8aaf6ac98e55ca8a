#include "uart.h"

#define USART_SR (*(volatile unsigned *)0x40004400u)
#define USART_DR (*(volatile unsigned *)0x40004404u)
#define USART_BRR (*(volatile unsigned *)0x40004408u)

void uart_init(unsigned baud) { USART_BRR = 16000000u / baud; }
int uart_poll(void) { return (USART_SR & 0x20u) ? (int)(USART_DR & 0xFFu) : -1; }
void uart_put(char c) {
  while (!(USART_SR & 0x80u)) {
  }
  USART_DR = (unsigned)c;
}
