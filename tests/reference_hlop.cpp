#include <cmath>
#include <cstdint>

#include "reference.h"

namespace reference {
namespace {

struct Node {
    double price;
    int32_t weight;
    int32_t tag;
    Node* next;
    Node* prev;
};

int32_t add_saturated(int32_t a, int32_t b) {
    const int64_t sum = static_cast<int64_t>(a) + static_cast<int64_t>(b);
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(sum);
}

}  // namespace

void hlop(double* prices, int32_t* weights, const int32_t* tags, int32_t count,
          double tolerance, int32_t mode) {
    if (count <= 0) return;

    // Build, in input order.
    Node* head = nullptr;
    Node* tail = nullptr;
    for (int32_t i = 0; i < count; ++i) {
        Node* node = new Node{prices[i], weights[i], tags[i], nullptr, tail};
        if (tail != nullptr) tail->next = node;
        else head = node;
        tail = node;
    }

    // Bubble passes exchanging payloads while a.price > b.price.
    for (bool exchanged = true; exchanged;) {
        exchanged = false;
        for (Node* a = head; a->next != nullptr; a = a->next) {
            Node* b = a->next;
            if (a->price > b->price) {
                const double price = a->price;
                const int32_t weight = a->weight;
                const int32_t tag = a->tag;
                a->price = b->price;
                a->weight = b->weight;
                a->tag = b->tag;
                b->price = price;
                b->weight = weight;
                b->tag = tag;
                exchanged = true;
            }
        }
    }

    // Merge while more than one level is left.
    while (head->next != nullptr) {
        Node* best = head;
        double best_gap = std::fabs(head->next->price - head->price);
        for (Node* a = head; a->next != nullptr; a = a->next) {
            const double gap = std::fabs(a->next->price - a->price);
            if (gap < best_gap || std::isnan(gap) || std::isnan(best_gap)) {
                best = a;
                best_gap = gap;
            }
        }
        Node* lower = best;
        Node* upper = best->next;
        if (std::fabs(lower->price - upper->price) > tolerance) break;

        Node* survivor;
        Node* removed;
        if (lower->weight > upper->weight) {
            survivor = lower;
            removed = upper;
        } else {
            survivor = upper;
            removed = lower;
        }
        if (mode == 1) {
            survivor->weight = add_saturated(lower->weight, upper->weight);
        } else if (mode == 2) {
            const double divisor = static_cast<double>(lower->weight) + static_cast<double>(upper->weight);
            const double price =
                (static_cast<double>(lower->weight) * lower->price +
                 static_cast<double>(upper->weight) * upper->price) / divisor;
            if (divisor != 0.0) survivor->price = price;
            survivor->weight = add_saturated(lower->weight, upper->weight);
        }

        if (removed->prev != nullptr) removed->prev->next = removed->next;
        else head = removed->next;
        if (removed->next != nullptr) removed->next->prev = removed->prev;
        delete removed;
    }

    // Write back, zero the rest, free the list.
    int32_t k = 0;
    for (Node* a = head; a != nullptr; a = a->next, ++k) {
        prices[k] = a->price;
        weights[k] = a->weight;
    }
    for (; k < count; ++k) {
        prices[k] = 0.0;
        weights[k] = 0;
    }
    while (head != nullptr) {
        Node* next = head->next;
        delete head;
        head = next;
    }
}

}  // namespace reference
