#ifndef UART_H
#define UART_H
void uart_init(unsigned baud);
int uart_poll(void);
void uart_put(char c);
#endif
