#include "led.h"

#define GPIO_ODR (*(volatile unsigned *)0x40020C14u)
#define LED_PIN (1u << 12)

void led_init(void) { GPIO_ODR &= ~LED_PIN; }
void led_toggle(void) { GPIO_ODR ^= LED_PIN; }
